#include "config/CfgLoad.h"

#include "handover/RecordText.h"
#include "text/DottedQuad.h"

namespace tvx {

namespace {

// Selects the item equal to the read text. Any other text is kept as read:
// rewriting it with whatever the box happened to show would change a setting
// nobody touched. An empty text leaves the box's default, which a save then
// writes: an empty value is no setting to keep.
void loadCombo(const ComboTable& table, const QByteArray& read, int& index, bool& kept)
{
    if (read.isEmpty())
        return;
    const int found = findItem(table, read.constData());
    if (found >= 0) {
        index = found;
    } else {
        kept = true;
    }
}

} // namespace

CfgEntries entriesFromRecord(const SettingsRecord& r)
{
    using namespace cfgitems;
    CfgEntries e;

    e.devName = fieldText(r.devName);
    e.fmwVer = fieldText(r.fmwVer);
    e.webEn = r.webEn != 0;
    e.diolp = fieldText(r.diolp);

    const QByteArray baud = fieldBytes(r.sp0_baud);
    loadCombo(kBaud, baud, e.baud, e.baudKept);
    if (e.baudKept) {
        e.baudExtra = QString::fromLatin1(baud);
        e.baud = static_cast<int>(kBaud.items.size());
    }

    e.parity = parityIndexFromChar(fieldChar(r.sp0_dataFmt, 0));
    e.dataBits = dataBitsIndexFromChar(fieldChar(r.sp0_dataFmt, 1));
    e.stopBits = stopBitsIndexFromChar(fieldChar(r.sp0_dataFmt, 2));

    loadCombo(kFlow, fieldBytes(r.sp0_fc), e.fc, e.fcKept);
    loadCombo(kInterface, fieldBytes(r.sp0_if), e.iface, e.ifaceKept);

    e.dpStrOn = fieldChar(r.sp0_dpCtrl, 0) == '1';
    if (e.dpStrOn) {
        const QString str = fieldText(r.sp0_dpStr);
        if (!str.isEmpty())
            e.dpStr0 = str.left(2);
        if (str.size() > 2)
            e.dpStr1 = str.mid(2, 2);
    }
    // The packing texts are taken whole, a leading "0" included: leaving such
    // an edit empty made the module impossible to save from this window.
    e.dpTmOn = fieldChar(r.sp0_dpCtrl, 1) == '1';
    if (e.dpTmOn)
        e.dpTm = fieldText(r.sp0_dpTm);
    e.dpLenOn = fieldChar(r.sp0_dpCtrl, 2) == '1';
    if (e.dpLenOn)
        e.dpLen = fieldText(r.sp0_dpLen);

    e.ip = parseDottedQuad(fieldBytes(r.lanIp).constData());
    e.mask = parseDottedQuad(fieldBytes(r.lanMask).constData());
    const uint32_t gw = parseDottedQuad(fieldBytes(r.lanGw).constData());
    if (gw != 0)
        e.gw = gw;
    e.pingEn = fieldChar(r.lanPingEn, 0) != '0';
    e.ipcfg = fieldChar(r.lanIpCfg, 0) == '1' ? kIpModeDhcp : 0;
    e.mac = fieldText(r.lanMac);
    e.lanStatus = fieldText(r.lanStatus);

    const QByteArray mode = fieldBytes(r.sp0_opmode);
    if (mode.startsWith(kOpModeCodes[kOpModeServer]))
        e.opmode = kOpModeServer;
    else if (mode.startsWith(kOpModeCodes[kOpModeClient]))
        e.opmode = kOpModeClient;
    else
        e.opmodeKept = true;

    e.tcpslport = fieldText(r.sp0_tcpslport);
    e.tcpcrport = fieldText(r.sp0_tcpcrport);
    const QByteArray remoteIp = fieldBytes(r.sp0_tcpcrip);
    if (!remoteIp.isEmpty())
        e.remoteIp = parseDottedQuad(remoteIp.constData());
    e.tcpcat = fieldChar(r.sp0_tcpcat, 0) == '1' ? kConnectAtSerialData : 0;
    return e;
}

} // namespace tvx
