#include "ModuleConfig.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tvx::sim {

std::string macText(const Mac& mac)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

bool parseMac(const std::string& text, Mac& out)
{
    unsigned v[6];
    char tail;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &tail)
        != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<std::uint8_t>(v[i]);
    return true;
}

bool parseDotted(const std::string& text, std::uint32_t& hostOrder)
{
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        unsigned part = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            part = part * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3 || part > 255)
                return false;
            ++i;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    hostOrder = value;
    return true;
}

std::string prefixToMask(int prefix)
{
    const std::uint32_t m =
        prefix <= 0 ? 0 : (prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", m >> 24, (m >> 16) & 255, (m >> 8) & 255,
                  m & 255);
    return buf;
}

ModuleConfig ModuleConfig::withDefaults(const std::string& name, const Mac& mac,
                                        const std::string& ip)
{
    ModuleConfig c;
    c.name = name;
    c.mac = mac;
    std::string addr = ip;
    std::string mask = "255.255.255.0";
    if (const auto slash = ip.find('/'); slash != std::string::npos) {
        addr = ip.substr(0, slash);
        mask = prefixToMask(std::atoi(ip.c_str() + slash + 1));
    }
    // A module leaves the factory with its gateway at .1 of its own subnet.
    std::uint32_t a = 0, m = 0;
    std::string gw = "0.0.0.0";
    if (parseDotted(addr, a) && parseDotted(mask, m)) {
        const std::uint32_t g = (a & m) | 1u;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", g >> 24, (g >> 16) & 255, (g >> 8) & 255,
                      g & 255);
        gw = buf;
    }
    char devName[20];
    std::snprintf(devName, sizeof devName, "TX-%02X%02X%02X", mac[3], mac[4], mac[5]);

    c.settings = {
        {"devName", devName},     {"webEn", "1"},
        {"diolp", "5001"},        {"fmwVer", "V1.05"},
        {"opmode", "TS"},         {"tcpslport", "4000"},
        {"tcpcrport", "4000"},    {"tcpcrip", "0.0.0.0"},
        {"tcpcat", "0"},          {"baud", "115200"},
        {"dataFmt", "N81"},       {"fc", "NONE"},
        {"serialIf", "RS-232"},   {"dpCtrl", "010"},
        {"dpLen", "1024"},        {"dpTm", "50"},
        {"dpStr", "0D0A"},        {"lanIp", addr},
        {"lanMask", mask},        {"lanGw", gw},
        {"lanIpCfg", "0"},        {"lanPingEn", "1"},
        {"lanMac", macText(mac)}, {"lanStatus", "100M Full Duplex"},
        {"password", ""},
    };
    return c;
}

bool ModuleConfig::apply(const std::string& token, std::string* error)
{
    const auto eq = token.find('=');
    if (eq == std::string::npos) {
        if (error)
            *error = "expected key=value, got '" + token + "'";
        return false;
    }
    const std::string key = token.substr(0, eq);
    const std::string value = token.substr(eq + 1);
    auto fail = [&](const std::string& why) {
        if (error)
            *error = key + ": " + why;
        return false;
    };
    if (key == "ip") {
        std::string addr = value;
        if (const auto slash = value.find('/'); slash != std::string::npos) {
            addr = value.substr(0, slash);
            settings["lanMask"] = prefixToMask(std::atoi(value.c_str() + slash + 1));
        }
        std::uint32_t a;
        if (!parseDotted(addr, a))
            return fail("not an IPv4 address");
        settings["lanIp"] = addr;
        return true;
    }
    if (key == "mac") {
        if (!parseMac(value, mac))
            return fail("not a MAC address");
        settings["lanMac"] = macText(mac);
        return true;
    }
    if (key == "if") {
        interfaceName = value;
        return true;
    }
    if (key == "bind") {
        bindAddress = value;
        return true;
    }
    if (key == "metric") {
        routeMetric = std::atoi(value.c_str());
        return true;
    }
    if (key == "model") {
        modelName = value;
        return true;
    }
    if (key == "code") {
        modelCode = static_cast<std::uint16_t>(std::strtoul(value.c_str(), nullptr, 16));
        return true;
    }
    if (key == "mode") {
        // As the device list spells it; the bed files write it in lower case.
        normalMode = value == "1" || value == "Normal" || value == "normal";
        return true;
    }
    if (key == "restart") {
        restartMs = std::atoi(value.c_str());
        return true;
    }
    if (key == "flash") {
        flashMs = std::atoi(value.c_str());
        return true;
    }
    if (key == "fault")
        return faults.add(value, error);
    // Friendlier names for the most used settings; any other settings field by its own name.
    static const std::map<std::string, std::string> alias = {
        {"password", "password"}, {"devname", "devName"}, {"fw", "fmwVer"},
        {"gw", "lanGw"},          {"mask", "lanMask"},    {"dhcp", "lanIpCfg"},
    };
    std::string field = key;
    if (const auto a = alias.find(key); a != alias.end())
        field = a->second;
    if (!settings.count(field))
        return fail("unknown module key");
    if (field == "lanMac")
        return fail("set the MAC with mac=");
    settings[field] = value;
    return true;
}

bool ModuleConfig::parse(const std::string& line, ModuleConfig& out, std::string* error)
{
    std::istringstream in(line);
    std::string name;
    if (!(in >> name) || name.find('=') != std::string::npos) {
        if (error)
            *error = "a module definition starts with its name";
        return false;
    }
    // The MAC and address come first so defaults derive from them, whatever the token order.
    std::vector<std::string> tokens;
    for (std::string t; in >> t;)
        tokens.push_back(t);
    Mac mac{0x02, 0x54, 0x58, 0, 0, 1};
    std::string ip = "192.0.2.10/24";
    for (const std::string& t : tokens) {
        if (t.rfind("mac=", 0) == 0 && !parseMac(t.substr(4), mac)) {
            if (error)
                *error = "mac: not a MAC address";
            return false;
        }
        if (t.rfind("ip=", 0) == 0)
            ip = t.substr(3);
    }
    out = withDefaults(name, mac, ip);
    std::uint32_t a;
    if (!parseDotted(out.settings["lanIp"], a)) {
        if (error)
            *error = "ip: not an IPv4 address";
        return false;
    }
    for (const std::string& t : tokens) {
        if (t.rfind("mac=", 0) == 0 || t.rfind("ip=", 0) == 0)
            continue;
        if (!out.apply(t, error))
            return false;
    }
    return true;
}

} // namespace tvx::sim
