#include "DiscoveryReply.h"

namespace tvx::sim {

namespace {

void putText(std::vector<std::uint8_t>& out, std::uint8_t type, const std::string& text)
{
    const std::size_t n = text.size() > 255 ? 255 : text.size();
    out.push_back(type);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(n));
}

void putWord(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint32_t v)
{
    out.insert(out.end(),
               {type, 4, static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

} // namespace

DiscoveryInfo discoveryInfo(const ModuleConfig& config)
{
    DiscoveryInfo info;
    const auto& s = config.settings;
    info.mac = config.mac;
    parseDotted(s.at("lanIp"), info.ip);
    parseDotted(s.at("lanMask"), info.mask);
    info.modelName = config.modelName;
    info.deviceName = s.at("devName");
    info.firmware = s.at("fmwVer");
    info.gateway = s.at("lanGw");
    info.passwordSet = !s.at("password").empty();
    info.normalMode = config.normalMode;
    info.modelCode = config.modelCode;
    return info;
}

bool isDiscoveryRequest(const std::uint8_t* data, std::size_t size)
{
    return size == 3 && data[0] == 0x55 && data[1] == 0x01 && data[2] == 0xAA;
}

std::vector<std::uint8_t> encodeDiscoveryReply(const DiscoveryInfo& info, const Faults& faults)
{
    const FaultSwitch* bad = faults.find("disc-bad");
    const std::string kind = bad ? bad->value : std::string();

    std::vector<std::uint8_t> out;
    out.push_back(kind == "start" ? 0xAB : 0xAA);

    if (kind == "noend") {
        // The last byte is 0x55 but belongs to an item's value: the parser runs off the end
        // without meeting the marker.
        out.insert(out.end(), {0x01, 6});
        out.insert(out.end(), info.mac.begin(), info.mac.end());
        out.insert(out.end(), {0x02, 2, 0x31, 0x55});
        return out;
    }
    if (kind == "mac") {
        // The MAC item is one byte short; its last byte doubles as the final 0x55.
        out.insert(
            out.end(),
            {0x01, 6, info.mac[0], info.mac[1], info.mac[2], info.mac[3], info.mac[4], 0x55});
        return out;
    }

    out.insert(out.end(), {0x01, 6});
    out.insert(out.end(), info.mac.begin(), info.mac.end());
    if (kind == "type5")
        out.insert(out.end(), {0x05, 1, 0x00});
    if (kind == "type13")
        out.insert(out.end(), {0x0D, 1, 0x00});
    putText(out, 0x02, "HW1.0");
    putWord(out, 0x03, info.ip);
    putWord(out, 0x04, info.mask);
    putText(out, 0x06, info.modelName);
    std::string name = info.deviceName;
    if (faults.has("disc-longname"))
        name = name + "-" + std::string(24, 'L');
    putText(out, 0x07, name);
    out.insert(out.end(), {0x08, 1, static_cast<std::uint8_t>(info.passwordSet ? 1 : 0)});
    putText(out, 0x09, info.firmware);

    if (kind == "fixed") {
        // The model code item ends the datagram one byte early; its low byte is the 0x55.
        out.insert(out.end(), {0x0A, 2, 0x0A, 0x55});
        return out;
    }
    out.insert(out.end(),
               {0x0A, 2, static_cast<std::uint8_t>(info.modelCode >> 8),
                static_cast<std::uint8_t>(info.modelCode)});
    out.insert(out.end(), {0x0B, 1, static_cast<std::uint8_t>(info.normalMode ? 1 : 0)});
    if (kind == "overrun") {
        // A name-like item whose length byte points past the end of the datagram.
        out.insert(out.end(), {0x0C, 40, 'g', 'w', 0x55});
        return out;
    }
    putText(out, 0x0C, info.gateway);
    out.push_back(0x55);
    if (faults.has("disc-trailer"))
        out.insert(out.end(), {0x00, 0xFF, 0x13, 0x55});
    if (kind == "end")
        out.back() = 0x00;
    return out;
}

} // namespace tvx::sim
