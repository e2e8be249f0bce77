#include "CommandTable.h"

#include "ModuleConfig.h"

#include <cctype>

namespace tvx::sim {

const std::vector<CommandEntry>& commandTable()
{
    static const std::vector<CommandEntry> table = {
        {"GBN", "SBN", "devName", ValueKind::Text, 19},
        {"GBC", "SBC", "webEn", ValueKind::Flag, 1},
        {"GBD", "SBD", "diolp", ValueKind::Digits, 5},
        {"GBV", "", "fmwVer", ValueKind::ReadOnly, 19},
        {"GSMA", "SSMA", "opmode", ValueKind::OpMode, 2},
        // Later firmware keeps longer listen port texts (a sixth, leading
        // digit) than the five a utility lets the user type.
        {"GSVPA", "SSVPA", "tcpslport", ValueKind::Digits, 6},
        {"GSCPA", "SSCPA", "tcpcrport", ValueKind::Digits, 5},
        {"GSCIA", "SSCIA", "tcpcrip", ValueKind::Address, 15},
        {"GSCCA", "SSCCA", "tcpcat", ValueKind::Flag, 1},
        {"GSBA", "SSBA", "baud", ValueKind::Digits, 7},
        {"GSDA", "SSDA", "dataFmt", ValueKind::DataFormat, 3},
        {"GSFA", "SSFA", "fc", ValueKind::FlowControl, 8},
        {"GSIA", "SSIA", "serialIf", ValueKind::Interface, 6},
        {"GSPCA", "SSPCA", "dpCtrl", ValueKind::Switches, 3},
        {"GSPLA", "SSPLA", "dpLen", ValueKind::Digits, 4},
        {"GSPTA", "SSPTA", "dpTm", ValueKind::Digits, 5},
        {"GSPSA", "SSPSA", "dpStr", ValueKind::HexPair, 4},
        {"GLI", "SLI", "lanIp", ValueKind::Address, 15},
        {"GLN", "SLN", "lanMask", ValueKind::Address, 15},
        {"GLG", "SLG", "lanGw", ValueKind::Address, 15},
        {"GLC", "SLC", "lanIpCfg", ValueKind::Flag, 1},
        {"GLA", "SLA", "lanPingEn", ValueKind::Flag, 1},
        {"GLM", "", "lanMac", ValueKind::ReadOnly, 17},
        {"GLS", "", "lanStatus", ValueKind::ReadOnly, 29},
        {"", "SBP", "password", ValueKind::Password, 8},
    };
    return table;
}

bool valueAccepted(ValueKind kind, unsigned maxLength, const std::string& v)
{
    if (v.size() > maxLength)
        return false;
    for (unsigned char c : v) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    auto all = [&](auto pred) {
        for (unsigned char c : v) {
            if (!pred(c))
                return false;
        }
        return true;
    };
    switch (kind) {
    case ValueKind::Text:
    case ValueKind::Password:
        return true;
    case ValueKind::Digits:
        return !v.empty() && all([](unsigned char c) { return std::isdigit(c) != 0; });
    case ValueKind::Address: {
        std::uint32_t a;
        return parseDotted(v, a);
    }
    case ValueKind::Flag:
        return v == "0" || v == "1";
    case ValueKind::Switches:
        return v.size() == 3 && all([](unsigned char c) { return c == '0' || c == '1'; });
    case ValueKind::HexPair:
        // One delimiter byte or two.
        return (v.size() == 2 || v.size() == 4)
            && all([](unsigned char c) { return std::isxdigit(c) != 0; });
    case ValueKind::DataFormat:
        return v.size() == 3 && std::string("NEOSM").find(v[0]) != std::string::npos && v[1] >= '5'
            && v[1] <= '8' && (v[2] == '1' || v[2] == '2');
    case ValueKind::FlowControl:
        // Later firmware also knows DTR/DSR, which older utilities cannot show.
        return v == "NONE" || v == "RTS/CTS" || v == "XON/XOFF" || v == "DTR/DSR";
    case ValueKind::Interface:
        return v == "RS-232" || v == "RS-485" || v == "RS-422";
    case ValueKind::OpMode:
        return v == "TS" || v == "TC" || v == "UD";
    case ValueKind::ReadOnly:
        return false;
    }
    return false;
}

} // namespace tvx::sim
