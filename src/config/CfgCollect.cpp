#include "config/CfgCollect.h"

#include "handover/RecordText.h"
#include "text/DottedQuad.h"
#include "text/IntegerText.h"

namespace tvx {

namespace {

using Kind = CollectResult::Kind;

CollectResult refuse(const char* message)
{
    return {Kind::Refused, QString::fromLatin1(message)};
}

CollectResult notAnInteger(const QByteArray& text)
{
    return {Kind::NotAnInteger,
            QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text))};
}

bool convert(const QByteArray& text, int32_t& value)
{
    return textToInt(std::string_view(text.constData(), static_cast<size_t>(text.size())), value);
}

// The selected item's text, or the value as read while the load's kept value
// still stands. A box without a selection writes the text it shows.
template <size_t N>
void collectCombo(char (&field)[N], const char (&readField)[N], const ComboTable& table, int now,
                  int loaded, bool kept, const char* shownText)
{
    const bool inTable = now >= 0 && now < static_cast<int>(table.items.size());
    if ((kept && now == loaded) || (!inTable && kept))
        storeField(field, fieldBytes(readField));
    else if (inTable)
        storeField(field, table.items[static_cast<size_t>(now)]);
    else
        storeField(field, shownText);
}

const char* defaultItem(const ComboTable& table)
{
    return table.items[static_cast<size_t>(table.defaultIndex)];
}

template <size_t N>
void storeAddress(char (&field)[N], uint32_t value)
{
    char text[16];
    formatDottedQuad(value, text);
    storeField(field, text);
}

} // namespace

CollectResult checkEntry(EntryRule rule, const QByteArray& text, int32_t* converted)
{
    int32_t value = 0;
    const auto blank = [&text](const char* message) {
        return text.isEmpty() ? refuse(message) : CollectResult{};
    };
    CollectResult result;
    switch (rule) {
    case EntryRule::DeviceName:
        return blank("device name can't be blank");
    case EntryRule::DioListenPort:
        if (result = blank("DIO Listen port can't be blank"); !result.passed())
            return result;
        if (!convert(text, value))
            return notAnInteger(text);
        // Leading spaces pass the conversion, so a long text can get this far.
        if (text.size() > kDiolpMaxChars)
            return refuse("DIO Listen port can't be longer than 9 characters");
        break;
    case EntryRule::PackingLength:
        if (result = blank("port 1 data packing length can't be blank"); !result.passed())
            return result;
        if (!convert(text, value))
            return notAnInteger(text);
        if (value < 1 || value > 1024)
            return refuse("invalid data packing length");
        break;
    case EntryRule::PackingTimeout:
        if (result = blank("port 1 data packing timeout can't be blank"); !result.passed())
            return result;
        if (!convert(text, value))
            return notAnInteger(text);
        if (value < 1 || value > 65535)
            return refuse("invalid data packing timeout");
        break;
    case EntryRule::DelimiterByte: {
        // Each edit holds hexadecimal digits without their prefix.
        const QByteArray prefixed = "0x" + text;
        if (!convert(prefixed, value))
            return notAnInteger(prefixed);
        break;
    }
    case EntryRule::ListenPort:
        if (result = blank("port 1 Listen port can't be blank"); !result.passed())
            return result;
        if (!convert(text, value))
            return notAnInteger(text);
        break;
    case EntryRule::RemotePort:
        if (!convert(text, value))
            return notAnInteger(text);
        if (value < 1 || value > 65535)
            return refuse("invalid remote Port");
        if (text.size() > kRemotePortMaxChars)
            return refuse("port 1 Remote port can't be longer than 30 characters");
        break;
    }
    if (converted)
        *converted = value;
    return {};
}

CollectResult collectEntries(const CfgEntries& now, const CfgEntries& loaded,
                             const SettingsRecord& asRead, SettingsRecord& r)
{
    using namespace cfgitems;
    if (CollectResult r = checkEntry(EntryRule::DeviceName, now.devName.toLatin1()); !r.passed())
        return r;
    storeField(r.devName, now.devName.toLatin1());

    r.webEn = now.webEn ? 1 : 0;

    const QByteArray diolp = now.diolp.toLatin1();
    if (CollectResult r = checkEntry(EntryRule::DioListenPort, diolp); !r.passed())
        return r;
    storeField(r.diolp, diolp);

    collectCombo(r.sp0_baud, asRead.sp0_baud, kBaud, now.baud, loaded.baud, loaded.baudKept,
                 defaultItem(kBaud));
    const char format[4] = {parityCharFromIndex(now.parity),
                            kDataBitsItems[static_cast<size_t>(
                                now.dataBits >= 0 ? now.dataBits : kDataBits.defaultIndex)][0],
                            kStopBitsItems[static_cast<size_t>(
                                now.stopBits >= 0 ? now.stopBits : kStopBits.defaultIndex)][0],
                            '\0'};
    storeField(r.sp0_dataFmt, format);
    collectCombo(r.sp0_fc, asRead.sp0_fc, kFlow, now.fc, loaded.fc, loaded.fcKept,
                 defaultItem(kFlow));
    collectCombo(r.sp0_if, asRead.sp0_if, kInterface, now.iface, loaded.iface, loaded.ifaceKept,
                 kInterfaceShownText);

    // The packing controls are never shown: a value still as the load left it
    // goes back as read, unchecked, since nobody could have put it there.
    if (now.dpLenOn) {
        if (loaded.dpLenOn && now.dpLen == loaded.dpLen) {
            storeField(r.sp0_dpLen, fieldBytes(asRead.sp0_dpLen));
        } else {
            const QByteArray len = now.dpLen.toLatin1();
            if (CollectResult r = checkEntry(EntryRule::PackingLength, len); !r.passed())
                return r;
            storeField(r.sp0_dpLen, len);
        }
        r.sp0_dpCtrl[2] = '1';
    } else {
        r.sp0_dpCtrl[2] = '0';
    }

    if (now.dpTmOn) {
        if (loaded.dpTmOn && now.dpTm == loaded.dpTm) {
            storeField(r.sp0_dpTm, fieldBytes(asRead.sp0_dpTm));
        } else {
            const QByteArray tm = now.dpTm.toLatin1();
            if (CollectResult r = checkEntry(EntryRule::PackingTimeout, tm); !r.passed())
                return r;
            storeField(r.sp0_dpTm, tm);
        }
        r.sp0_dpCtrl[1] = '1';
    } else {
        r.sp0_dpCtrl[1] = '0';
    }

    if (now.dpStrOn) {
        if (loaded.dpStrOn && now.dpStr0 == loaded.dpStr0 && now.dpStr1 == loaded.dpStr1) {
            storeField(r.sp0_dpStr, fieldBytes(asRead.sp0_dpStr));
        } else {
            if (now.dpStr0.isEmpty())
                return refuse("port 1 delimiter can't be blank");
            int32_t firstValue = 0;
            if (CollectResult r =
                    checkEntry(EntryRule::DelimiterByte, now.dpStr0.toLatin1(), &firstValue);
                !r.passed())
                return r;
            QByteArray delimiter = QByteArray::number(static_cast<uint32_t>(firstValue), 16)
                                       .toUpper()
                                       .rightJustified(2, '0');
            if (!now.dpStr1.isEmpty()) {
                int32_t secondValue = 0;
                if (CollectResult r =
                        checkEntry(EntryRule::DelimiterByte, now.dpStr1.toLatin1(), &secondValue);
                    !r.passed())
                    return r;
                delimiter += QByteArray::number(static_cast<uint32_t>(secondValue), 16)
                                 .toUpper()
                                 .rightJustified(2, '0');
            }
            storeField(r.sp0_dpStr, delimiter);
        }
        r.sp0_dpCtrl[0] = '1';
    } else {
        r.sp0_dpCtrl[0] = '0';
    }
    std::memset(r.sp0_dpCtrl + 3, 0, sizeof r.sp0_dpCtrl - 3);

    storeField(r.lanIpCfg, now.ipcfg == kIpModeDhcp ? "1" : "0");

    const uint32_t ip = now.ip.value_or(0);
    if (ip == 0)
        return refuse("invalid IP address");
    storeAddress(r.lanIp, ip);
    const uint32_t mask = now.mask.value_or(0);
    if (mask == 0)
        return refuse("invalid netmask address");
    storeAddress(r.lanMask, mask);
    storeAddress(r.lanGw, now.gw.value_or(0));

    // Only the first character is the switch; the rest stays as read.
    r.lanPingEn[0] = now.pingEn ? '1' : '0';

    const bool inTable = now.opmode >= 0 && now.opmode < static_cast<int>(kOpModeCodes.size());
    if ((loaded.opmodeKept && now.opmode == loaded.opmode) || !inTable)
        storeField(r.sp0_opmode, fieldBytes(asRead.sp0_opmode));
    else
        storeField(r.sp0_opmode, kOpModeCodes[static_cast<size_t>(now.opmode)]);
    const QByteArray mode = fieldBytes(r.sp0_opmode);

    if (mode.startsWith(kOpModeCodes[kOpModeServer])) {
        const QByteArray port = now.tcpslport.toLatin1();
        if (CollectResult r = checkEntry(EntryRule::ListenPort, port); !r.passed())
            return r;
        storeField(r.sp0_tcpslport, port);
    } else if (mode.startsWith(kOpModeCodes[kOpModeClient])) {
        const uint32_t remoteIp = now.remoteIp.value_or(0);
        if (remoteIp == 0)
            return refuse("invalid remote IP");
        storeAddress(r.sp0_tcpcrip, remoteIp);
        const QByteArray port = now.tcpcrport.toLatin1();
        if (CollectResult r = checkEntry(EntryRule::RemotePort, port); !r.passed())
            return r;
        storeField(r.sp0_tcpcrport, port);
        storeField(r.sp0_tcpcat, now.tcpcat == kConnectAtSerialData ? "1" : "0");
    }
    return {};
}

} // namespace tvx
