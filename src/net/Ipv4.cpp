#include "net/Ipv4.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace tvx {

uint32_t parseIpv4(const char* text, bool strict)
{
    // inet_addr and inet_aton share one parser in glibc; inet_aton tells
    // "255.255.255.255" apart from a failure, which inet_addr cannot, but the
    // answer for both is INADDR_NONE here, exactly as inet_addr gives it.
    in_addr parsed{};
    uint32_t value = kInaddrNone;
    if (text && inet_aton(text, &parsed) != 0)
        value = parsed.s_addr;
    if (strict && value == 0)
        return kInaddrNone;
    return value;
}

void formatIpv4(uint32_t address, char* out)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void macTextToBytes(const char* text, uint8_t out[6])
{
    char buffer[20] = {};
    std::strncpy(buffer, text, sizeof buffer - 1);
    for (int pos : {2, 5, 8, 11, 14})
        buffer[pos] = '\0';
    for (int i = 0; i < 6; ++i) {
        const char* group = buffer + 3 * i;
        // strtoul stops at the first non-hex character; a group that starts
        // with none gives 0, as the original conversion did.
        unsigned long v = 0;
        if (std::isxdigit(static_cast<unsigned char>(group[0])))
            v = std::strtoul(group, nullptr, 16);
        out[i] = static_cast<uint8_t>(v);
    }
}

bool parseMacText(const char* text, uint8_t out[6])
{
    if (!text || std::strlen(text) != 17)
        return false;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return false;
    for (int i = 0; i < 17; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2 ? c != static_cast<unsigned char>(separator) : !std::isxdigit(c))
            return false;
    }
    macTextToBytes(text, out);
    return true;
}

bool isOtherModule(const char* picked, const char* reported)
{
    uint8_t a[6];
    uint8_t b[6];
    if (!parseMacText(picked, a) || !parseMacText(reported, b))
        return false;
    return std::memcmp(a, b, sizeof a) != 0;
}

void formatMac(const uint8_t mac[6], char* out)
{
    std::snprintf(out, 18, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
}

} // namespace tvx
