#include "NetpinArguments.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace tvx::netpin {

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<uint32_t> parseDottedQuad(const char* text)
{
    if (!text || std::strlen(text) > 15)
        return std::nullopt;
    uint32_t host = 0;
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*p != '.')
                return std::nullopt;
            ++p;
        }
        if (*p < '0' || *p > '9')
            return std::nullopt;
        // Octal and hex forms and leading zeros are the classic parser's
        // surprises; the utility never sends them.
        if (*p == '0' && p[1] >= '0' && p[1] <= '9')
            return std::nullopt;
        unsigned value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (++digits > 3 || value > 255)
                return std::nullopt;
            ++p;
        }
        host = (host << 8) | value;
    }
    if (*p != '\0')
        return std::nullopt;
    return htonl(host);
}

bool parseMac(const char* text, uint8_t out[6])
{
    if (!text || std::strlen(text) != 17)
        return false;
    for (int i = 0; i < 6; ++i) {
        const char* group = text + 3 * i;
        const int hi = hexValue(group[0]);
        const int lo = hexValue(group[1]);
        if (hi < 0 || lo < 0)
            return false;
        if (i < 5 && group[2] != ':')
            return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

std::optional<int> parseIfIndex(const char* text)
{
    if (!text || *text < '1' || *text > '9')
        return std::nullopt;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return std::nullopt;
        value = value * 10 + (*p - '0');
        if (value > 0x7fffffffL)
            return std::nullopt;
    }
    return static_cast<int>(value);
}

const char* refusedAddressClass(uint32_t address)
{
    const uint32_t host = ntohl(address);
    if (host == 0xFFFFFFFFu)
        return "the broadcast address";
    if ((host >> 24) == 0)
        return "an address of the unspecified network 0.0.0.0/8";
    if ((host >> 24) == 127)
        return "a loopback address";
    if ((host >> 28) == 0xE)
        return "a multicast address";
    if ((host >> 28) == 0xF)
        return "a reserved address";
    return nullptr;
}

const char* refusedMacClass(const uint8_t mac[6])
{
    static const uint8_t zero[6] = {};
    if (std::memcmp(mac, zero, 6) == 0)
        return "the all-zero link-layer address";
    if (mac[0] & 1)
        return "a multicast or broadcast link-layer address";
    return nullptr;
}

std::string formatAddress(uint32_t address)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

namespace {
Ipv4Range range(uint32_t hostNetwork, int prefix)
{
    const uint32_t mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
    return {htonl(hostNetwork & mask), htonl(mask)};
}
} // namespace

bool inDefaultModuleRanges(uint32_t address)
{
    static const Ipv4Range ranges[] = {
        range(0x0A000000u, 8), // 10.0.0.0/8
        range(0xAC100000u, 12), // 172.16.0.0/12
        range(0xC0A80000u, 16), // 192.168.0.0/16
        range(0xA9FE0000u, 16), // 169.254.0.0/16, link-local
        range(0x64400000u, 10), // 100.64.0.0/10, shared address space
        range(0xC0000200u, 24), // 192.0.2.0/24, documentation
        range(0xC6336400u, 24), // 198.51.100.0/24, documentation
        range(0xCB007100u, 24), // 203.0.113.0/24, documentation
        range(0xC6120000u, 15), // 198.18.0.0/15, benchmarking
    };
    for (const Ipv4Range& r : ranges) {
        if (r.contains(address))
            return true;
    }
    return false;
}

bool parseNetpinConfig(const std::string& text, NetpinConfig& out, std::string& error)
{
    NetpinConfig found;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string keyword, value, extra;
        words >> keyword >> value >> extra;
        if (keyword.empty())
            continue;
        const auto slash = value.find('/');
        bool ok = (keyword == "allow" || keyword == "allow-routed") && extra.empty()
            && slash != std::string::npos && slash + 1 < value.size() && value.size() - slash <= 3;
        std::optional<uint32_t> network;
        int prefix = -1;
        if (ok) {
            network = parseDottedQuad(value.substr(0, slash).c_str());
            const std::string bits = value.substr(slash + 1);
            ok = network && bits.find_first_not_of("0123456789") == std::string::npos
                && !(bits.size() > 1 && bits[0] == '0');
            if (ok)
                prefix = std::stoi(bits);
            // A range wider than /8 is a mistake rather than a wish.
            ok = ok && prefix >= 8 && prefix <= 32;
        }
        if (!ok) {
            error = "line " + std::to_string(number)
                + ": expected \"allow A.B.C.D/N\" or \"allow-routed A.B.C.D/N\" (N 8 to 32)";
            return false;
        }
        const Ipv4Range r = range(ntohl(*network), prefix);
        if (r.network != *network) {
            error = "line " + std::to_string(number) + ": " + value + " has host bits set";
            return false;
        }
        found.allowed.push_back(r);
        if (keyword == "allow-routed")
            found.allowedRouted.push_back(r);
    }
    out = std::move(found);
    return true;
}

} // namespace tvx::netpin
