// The address fields' text: the strict dotted-quad reading and its print.
#include "FuzzCheck.h"

#include "text/DottedQuad.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const uint32_t value = tvx::parseDottedQuad(text.c_str());

    char printed[16];
    tvx::formatDottedQuad(value, printed);
    FUZZ_CHECK(std::strlen(printed) >= 7 && std::strlen(printed) <= 15);
    // What is printed reads back as the same address.
    FUZZ_CHECK(tvx::parseDottedQuad(printed) == value);
    if (value == tvx::kDottedQuadError)
        return 0;

    // Accepted: four groups of digits and three dots, nothing else, each group
    // the byte it stands for.
    const char* p = text.c_str();
    for (int group = 0; group < 4; ++group) {
        unsigned long part = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            part = std::min(part * 10 + static_cast<unsigned long>(*p - '0'), 1000ul);
            ++p;
            ++digits;
        }
        FUZZ_CHECK(digits > 0 && part == ((value >> (24 - 8 * group)) & 0xFFu));
        FUZZ_CHECK(*p == (group < 3 ? '.' : '\0'));
        ++p;
    }
    return 0;
}
