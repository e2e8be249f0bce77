#include "text/DottedQuad.h"

#include <cstdio>

namespace tvx {

uint32_t parseDottedQuad(const char* text)
{
    if (!text)
        return kDottedQuadError;
    uint32_t value = 0;
    const char* p = text;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (*p != '.')
                return kDottedQuadError;
            ++p;
        }
        if (*p < '0' || *p > '9')
            return kDottedQuadError;
        unsigned part = 0;
        // Any number of digits is allowed; the value is capped as it grows so a
        // long run of digits cannot wrap back into range.
        while (*p >= '0' && *p <= '9') {
            part = part * 10 + static_cast<unsigned>(*p - '0');
            if (part > 255)
                return kDottedQuadError;
            ++p;
        }
        value = (value << 8) | part;
    }
    return *p == '\0' ? value : kDottedQuadError;
}

void formatDottedQuad(uint32_t value, char* out)
{
    std::snprintf(out, 16, "%u.%u.%u.%u", (value >> 24) & 0xFFu, (value >> 16) & 0xFFu,
                  (value >> 8) & 0xFFu, value & 0xFFu);
}

} // namespace tvx
