#include "protocol/CommandTable.h"

#include "handover/RecordText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

#define TVX_FIELD(name)                                                                            \
    RecordField                                                                                    \
    {                                                                                              \
        offsetof(SettingsRecord, name), sizeof(SettingsRecord::name)                               \
    }

const ReadStep kReadSteps[] = {
    {"$GBN\r\n", "GBN", ReadStore::Text, TVX_FIELD(devName), nullptr},
    {"$GBC\r\n", "GBC", ReadStore::Flag, TVX_FIELD(webEn), nullptr},
    {"$GBD\r\n", "GBD", ReadStore::Text, TVX_FIELD(diolp), nullptr},
    {"$GBV\r\n", "GBV", ReadStore::Text, TVX_FIELD(fmwVer), nullptr},
    {"$GBI\r\n", nullptr, ReadStore::Nothing, RecordField{0, 0}, nullptr},
    {"$GSMA\r\n", "GSMA", ReadStore::Text, TVX_FIELD(sp0_opmode), nullptr},
    // Modules whose firmware lacks the server and client settings answer
    // these four without their echo; the read goes on with the defaults.
    {"$GSVPA\r\n", "GSVPA", ReadStore::Text, TVX_FIELD(sp0_tcpslport), "4000"},
    {"$GSCPA\r\n", "GSCPA", ReadStore::Text, TVX_FIELD(sp0_tcpcrport), "4000"},
    {"$GSCIA\r\n", "GSCIA", ReadStore::Text, TVX_FIELD(sp0_tcpcrip), "0.0.0.0"},
    {"$GSCCA\r\n", "GSCCA", ReadStore::Text, TVX_FIELD(sp0_tcpcat), "0"},
    {"$GSBA\r\n", "GSBA", ReadStore::Text, TVX_FIELD(sp0_baud), nullptr},
    {"$GSDA\r\n", "GSDA", ReadStore::Text, TVX_FIELD(sp0_dataFmt), nullptr},
    {"$GSFA\r\n", "GSFA", ReadStore::Text, TVX_FIELD(sp0_fc), nullptr},
    {"$GSIA\r\n", "GSIA", ReadStore::Text, TVX_FIELD(sp0_if), nullptr},
    {"$GSPCA\r\n", "GSPCA", ReadStore::Text, TVX_FIELD(sp0_dpCtrl), nullptr},
    {"$GSPLA\r\n", "GSPLA", ReadStore::Text, TVX_FIELD(sp0_dpLen), nullptr},
    {"$GSPTA\r\n", "GSPTA", ReadStore::Text, TVX_FIELD(sp0_dpTm), nullptr},
    {"$GSPSA\r\n", "GSPSA", ReadStore::Text, TVX_FIELD(sp0_dpStr), nullptr},
    {"$GLI\r\n", "GLI", ReadStore::Text, TVX_FIELD(lanIp), nullptr},
    {"$GLN\r\n", "GLN", ReadStore::Text, TVX_FIELD(lanMask), nullptr},
    {"$GLG\r\n", "GLG", ReadStore::Text, TVX_FIELD(lanGw), nullptr},
    {"$GLC\r\n", "GLC", ReadStore::Text, TVX_FIELD(lanIpCfg), nullptr},
    {"$GLA\r\n", "GLA", ReadStore::Text, TVX_FIELD(lanPingEn), nullptr},
    {"$GLM\r\n", "GLM", ReadStore::Text, TVX_FIELD(lanMac), nullptr},
    {"$GLS\r\n", "GLS", ReadStore::Text, TVX_FIELD(lanStatus), nullptr},
};

const WriteLine kWriteLines[] = {
    {"$SBN%s\r\n", WriteArg::Text, TVX_FIELD(devName), "SBNOK", WriteCondition::Always},
    {"$SBC%d\r\n", WriteArg::Flag, TVX_FIELD(webEn), "SBCOK", WriteCondition::Always},
    {"$SBD%s\r\n", WriteArg::Text, TVX_FIELD(diolp), "SBDOK", WriteCondition::Always},
    // An empty new password gives the bare "$SBP" line, which removes it.
    {"$SBP%s\r\n", WriteArg::Text, TVX_FIELD(newPasswd), "SBPOK", WriteCondition::PasswordChange},
    {"$SSBA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_baud), "SSBAOK", WriteCondition::Always},
    {"$SSDA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_dataFmt), "SSDAOK", WriteCondition::Always},
    {"$SSFA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_fc), "SSFAOK", WriteCondition::Always},
    {"$SSIA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_if), "SSIAOK", WriteCondition::Always},
    {"$SSPCA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_dpCtrl), "SSPCAOK", WriteCondition::Always},
    {"$SSPSA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_dpStr), "SSPSAOK",
     WriteCondition::PackDelimiter},
    {"$SSPTA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_dpTm), "SSPTAOK", WriteCondition::PackTimeout},
    {"$SSPLA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_dpLen), "SSPLAOK", WriteCondition::PackLength},
    {"$SLC%s\r\n", WriteArg::Text, TVX_FIELD(lanIpCfg), "SLCOK", WriteCondition::Always},
    {"$SLI%s\r\n", WriteArg::Text, TVX_FIELD(lanIp), "SLIOK", WriteCondition::StaticAddress},
    {"$SLN%s\r\n", WriteArg::Text, TVX_FIELD(lanMask), "SLNOK", WriteCondition::StaticAddress},
    {"$SLG%s\r\n", WriteArg::Text, TVX_FIELD(lanGw), "SLGOK", WriteCondition::StaticAddress},
    {"$SLA%s\r\n", WriteArg::Text, TVX_FIELD(lanPingEn), "SLAOK", WriteCondition::StaticAddress},
    {"$SSMA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_opmode), "SSMAOK", WriteCondition::Always},
    {"$SSVPA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_tcpslport), "SSVPAOK",
     WriteCondition::ModeServer},
    {"$SSCPA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_tcpcrport), "SSCPAOK",
     WriteCondition::ModeClient},
    {"$SSCCA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_tcpcat), "SSCCAOK", WriteCondition::ModeClient},
    {"$SSCIA%s\r\n", WriteArg::Text, TVX_FIELD(sp0_tcpcrip), "SSCIAOK", WriteCondition::ModeClient},
};

#undef TVX_FIELD

char* fieldOf(SettingsRecord& record, const RecordField& field)
{
    return reinterpret_cast<char*>(&record) + field.offset;
}

const char* fieldOf(const SettingsRecord& record, const RecordField& field)
{
    return reinterpret_cast<const char*>(&record) + field.offset;
}

void storeText(char* field, size_t room, const char* value, size_t length)
{
    storeField(field, room, QByteArray(value, static_cast<qsizetype>(length)));
}

} // namespace

std::span<const ReadStep> readSteps()
{
    return kReadSteps;
}

std::span<const WriteLine> writeLines()
{
    return kWriteLines;
}

bool storeReadReply(const ReadStep& step, const char* reply, size_t length, SettingsRecord& record)
{
    if (!step.echo)
        return true;
    const size_t echoLength = std::strlen(step.echo);
    if (std::strncmp(reply, step.echo, echoLength) != 0) {
        if (!step.fallback)
            return false;
        storeText(fieldOf(record, step.field), step.field.room, step.fallback,
                  std::strlen(step.fallback));
        return true;
    }
    char* field = fieldOf(record, step.field);
    switch (step.store) {
    case ReadStore::Flag:
        *reinterpret_cast<uint8_t*>(field) =
            (length > echoLength && reply[echoLength] == '0') ? 0 : 1;
        break;
    case ReadStore::Text:
        storeText(field, step.field.room, reply + echoLength, length - echoLength);
        break;
    case ReadStore::Nothing:
        break;
    }
    return true;
}

bool writeLineApplies(const WriteLine& line, const SettingsRecord& record)
{
    switch (line.condition) {
    case WriteCondition::Always:
        return true;
    case WriteCondition::PasswordChange:
        return record.passwdChg != 0;
    case WriteCondition::PackDelimiter:
        return record.sp0_dpCtrl[0] == '1';
    case WriteCondition::PackTimeout:
        return record.sp0_dpCtrl[1] == '1';
    case WriteCondition::PackLength:
        return record.sp0_dpCtrl[2] == '1';
    case WriteCondition::StaticAddress:
        return record.lanIpCfg[0] == '0';
    case WriteCondition::ModeServer:
        return std::strncmp(record.sp0_opmode, "TS", 2) == 0;
    case WriteCondition::ModeClient:
        return std::strncmp(record.sp0_opmode, "TC", 2) == 0;
    }
    return false;
}

size_t formatWriteLine(const WriteLine& line, const SettingsRecord& record, char* out, size_t room)
{
    const char* field = fieldOf(record, line.field);
    int n;
    if (line.arg == WriteArg::Flag) {
        n = std::snprintf(out, room, line.format,
                          static_cast<int>(*reinterpret_cast<const int8_t*>(field)));
    } else {
        // A field is read up to its zero but never past its room.
        char value[64] = {};
        std::memcpy(value, field, strnlen(field, std::min(line.field.room, sizeof value - 1)));
        n = std::snprintf(out, room, line.format, value);
    }
    if (n < 0)
        return 0;
    return std::min(static_cast<size_t>(n), room - 1);
}

} // namespace tvx
