// The configuration window's rules without the window: the dotted-quad
// reading of the load, the integer conversion of the save, what the load puts
// into the controls and what the collection of "Save to Module" checks and
// writes back, settings given by name put where the window would put them,
// the checks those pass before any module is asked, and the texts that leave
// the program (settings files read, the device list's CSV).
#include "config/CfgCollect.h"
#include "config/CfgLoad.h"
#include "config/SettingsEdit.h"
#include "discovery/DeviceListText.h"
#include "discovery/DeviceRegistry.h"
#include "handover/RecordText.h"
#include "text/DottedQuad.h"
#include "text/IntegerText.h"
#include "text/JsonText.h"

#include <QTest>

#include <cstring>

using namespace tvx;
using namespace tvx::cfgitems;

namespace {

// A module in TCP Server mode with delimiter packing, as a read leaves it.
SettingsRecord serverModule()
{
    SettingsRecord r;
    std::memset(&r, 0, sizeof r);
    storeField(r.devName, "Hall");
    storeField(r.fmwVer, "V1.05");
    storeField(r.sp0_baud, "115200");
    storeField(r.sp0_dataFmt, "N81");
    storeField(r.sp0_fc, "NONE");
    storeField(r.sp0_if, "RS-232");
    storeField(r.sp0_dpCtrl, "101");
    storeField(r.sp0_dpLen, "0512");
    storeField(r.sp0_dpTm, "20");
    storeField(r.sp0_dpStr, "0D0A");
    storeField(r.lanIp, "192.0.2.10");
    storeField(r.lanMask, "255.255.255.0");
    storeField(r.lanGw, "0.0.0.0");
    storeField(r.lanIpCfg, "0");
    storeField(r.lanPingEn, "1x");
    storeField(r.lanMac, "02:54:58:01:00:0A");
    storeField(r.sp0_opmode, "TS");
    storeField(r.sp0_tcpslport, "4000");
    storeField(r.sp0_tcpcrport, "5000");
    storeField(r.sp0_tcpcat, "0");
    r.webEn = 1;
    storeField(r.diolp, "4001");
    return r;
}

QList<Assignment> named(const QStringList& arguments)
{
    QList<Assignment> out;
    if (!SettingsEdit::parseArguments(arguments, out).isEmpty())
        out.clear();
    return out;
}

} // namespace

class tst_CfgRules : public QObject {
    Q_OBJECT
private slots:
    void dottedQuad_data();
    void dottedQuad();
    void dottedQuadFormat();
    void integer_data();
    void integer();
    void valuesCheckedWithoutAModule_data();
    void valuesCheckedWithoutAModule();
    void settingsFileWithAKeyTwiceIsRefused_data();
    void settingsFileWithAKeyTwiceIsRefused();
    void csvCellsCannotActInASpreadsheet();
    void loadKeepsWhatNoControlShows();
    void collectionWritesBackWhatNobodyChanged();
    void collectionRefuses_data();
    void collectionRefuses();
    void collectionStopsAtTheFirstRefusal();
    void valuesGoWhereTheWindowTakesThem();
};

void tst_CfgRules::dottedQuad_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<uint>("value");
    const uint bad = kDottedQuadError;
    QTest::newRow("plain") << QByteArray("192.0.2.10") << 0xC000020Au;
    QTest::newRow("zero") << QByteArray("0.0.0.0") << 0u;
    QTest::newRow("leading zeros are decimal") << QByteArray("10.0.0.010") << 0x0A00000Au;
    QTest::newRow("many leading zeros") << QByteArray("0000000255.0.0.1") << 0xFF000001u;
    QTest::newRow("all 255") << QByteArray("255.255.255.255") << 0xFFFFFFFFu;
    QTest::newRow("three groups") << QByteArray("192.168.1") << bad;
    QTest::newRow("five groups") << QByteArray("1.2.3.4.5") << bad;
    QTest::newRow("empty group") << QByteArray("1..3.4") << bad;
    QTest::newRow("sign") << QByteArray("+1.2.3.4") << bad;
    QTest::newRow("leading space") << QByteArray(" 1.2.3.4") << bad;
    QTest::newRow("inner space") << QByteArray("1.2. 3.4") << bad;
    QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << bad;
    QTest::newRow("trailing space") << QByteArray("1.2.3.4 ") << bad;
    QTest::newRow("256") << QByteArray("256.0.0.1") << bad;
    QTest::newRow("last group 256") << QByteArray("1.2.3.256") << bad;
    QTest::newRow("digits that would wrap") << QByteArray("4294967297.0.0.1") << bad;
    QTest::newRow("hex") << QByteArray("0x1.2.3.4") << bad;
    QTest::newRow("empty") << QByteArray("") << bad;
}

void tst_CfgRules::dottedQuad()
{
    QFETCH(QByteArray, text);
    QFETCH(uint, value);
    QCOMPARE(parseDottedQuad(text.constData()), value);
}

void tst_CfgRules::dottedQuadFormat()
{
    char out[16];
    formatDottedQuad(0x0A00000Au, out);
    QCOMPARE(QByteArray(out), QByteArray("10.0.0.10"));
    formatDottedQuad(0xFFFFFFFFu, out);
    QCOMPARE(QByteArray(out), QByteArray("255.255.255.255"));
    formatDottedQuad(0, out);
    QCOMPARE(QByteArray(out), QByteArray("0.0.0.0"));
}

void tst_CfgRules::integer_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << QByteArray("4000") << true << 4000;
    QTest::newRow("leading zeros") << QByteArray("0010") << true << 10;
    QTest::newRow("leading spaces") << QByteArray("   80") << true << 80;
    QTest::newRow("plus") << QByteArray("+5") << true << 5;
    QTest::newRow("minus") << QByteArray("-1") << true << -1;
    QTest::newRow("spaces then sign") << QByteArray("  -7") << true << -7;
    QTest::newRow("int max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("int min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
    QTest::newRow("dollar hex") << QByteArray("$1F") << true << 31;
    QTest::newRow("x hex") << QByteArray("xff") << true << 255;
    QTest::newRow("X hex") << QByteArray("XfF") << true << 255;
    QTest::newRow("0x hex") << QByteArray("0x0d") << true << 13;
    QTest::newRow("0X hex") << QByteArray("0XA0") << true << 160;
    QTest::newRow("eight hex digits") << QByteArray("0xFFFFFFFF") << true << -1;
    QTest::newRow("leading zeros are not significant") << QByteArray("0x000000001") << true << 1;
    QTest::newRow("spaces then hex") << QByteArray("  $10") << true << 16;

    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("only spaces") << QByteArray("   ") << false << 0;
    QTest::newRow("trailing space") << QByteArray("80 ") << false << 0;
    QTest::newRow("letters") << QByteArray("abc") << false << 0;
    QTest::newRow("one past int max") << QByteArray("2147483648") << false << 0;
    QTest::newRow("one below int min") << QByteArray("-2147483649") << false << 0;
    QTest::newRow("nine hex digits") << QByteArray("0x100000000") << false << 0;
    QTest::newRow("prefix alone") << QByteArray("0x") << false << 0;
    QTest::newRow("dollar alone") << QByteArray("$") << false << 0;
    QTest::newRow("x alone") << QByteArray("x") << false << 0;
    QTest::newRow("signed hex") << QByteArray("-0x5") << false << 0;
    QTest::newRow("bad hex digit") << QByteArray("0xzz") << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
    QTest::newRow("space after sign") << QByteArray("- 7") << false << 0;
    QTest::newRow("tab is not a space") << QByteArray("\t5") << false << 0;
    QTest::newRow("exponent") << QByteArray("1e3") << false << 0;
    QTest::newRow("decimal point") << QByteArray("1.0") << false << 0;
}

void tst_CfgRules::integer()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int32_t out = 12345;
    QCOMPARE(textToInt(std::string_view(text.constData(), size_t(text.size())), out), ok);
    if (ok)
        QCOMPARE(out, value);
}

void tst_CfgRules::valuesCheckedWithoutAModule_data()
{
    // What "Save to Module" refuses whatever the module is refused as the
    // arguments, a file or a plan line are read, with the collection's text.
    QTest::addColumn<QString>("assignment");
    QTest::addColumn<QString>("problem");
    QTest::newRow("port in letters") << "diolp=abc"
                                     << "diolp: 'abc' is not a valid integer value";
    QTest::newRow("blank port") << "diolp="
                                << "diolp: DIO Listen port can't be blank";
    QTest::newRow("long port") << "diolp=       123"
                               << "diolp: DIO Listen port can't be longer than 9 characters";
    QTest::newRow("blank name") << "devName="
                                << "devName: device name can't be blank";
    QTest::newRow("length over 1024") << "sp0_dpLen=2000"
                                      << "sp0_dpLen: invalid data packing length";
    QTest::newRow("timeout 0") << "sp0_dpTm=0"
                               << "sp0_dpTm: invalid data packing timeout";
    QTest::newRow("listen port x") << "sp0_tcpslport=x"
                                   << "sp0_tcpslport: 'x' is not a valid "
                                      "integer value";
    QTest::newRow("remote port over 65535") << "sp0_tcpcrport=70000"
                                            << "sp0_tcpcrport: invalid remote Port";
    QTest::newRow("second delimiter byte") << "sp0_dpStr=0Dzz"
                                           << "sp0_dpStr: '0xzz' is not a valid integer value";
    // A field that the modes may leave unused is blank in a settings file:
    // whether that matters is up to the module.
    QTest::newRow("blank packing length") << "sp0_dpLen="
                                          << "";
    QTest::newRow("blank remote port") << "sp0_tcpcrport="
                                       << "";
    QTest::newRow("good port") << "diolp=5001"
                               << "";
    QTest::newRow("hex port") << "diolp=$1389"
                              << "";
    QTest::newRow("good delimiter") << "sp0_dpStr=0D0A"
                                    << "";
}

void tst_CfgRules::valuesCheckedWithoutAModule()
{
    QFETCH(QString, assignment);
    QFETCH(QString, problem);
    QList<Assignment> parsed;
    const QString got = SettingsEdit::parseArguments({assignment}, parsed);
    QCOMPARE(got, problem);
}

void tst_CfgRules::settingsFileWithAKeyTwiceIsRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("problem");
    QTest::newRow("twice") << QByteArray(
        "{\"diolp\": \"5001\", \"webEn\": \"1\", \"diolp\": \"6001\"}")
                           << "f.json: \"diolp\" is given twice";
    QTest::newRow("in the array") << QByteArray("[{\"version\": 1, \"version\": 1}]")
                                  << "f.json: \"version\" is given twice";
    QTest::newRow("written another way")
        << QByteArray("{\"diolp\": \"5001\", \"dio\\u006cp\": \"6001\"}")
        << "f.json: \"diolp\" is given twice";
    QTest::newRow("NUL in the key") << QByteArray("{\"a\\u0000b\": 1, \"a\\u0000b\": 2}")
                                    << "f.json: \"a\\x00b\" is given twice";
    // A key's name inside a string value, and the same key in two objects,
    // is no repetition.
    QTest::newRow("inside a value")
        << QByteArray("{\"devName\": \"x\\\", \\\"diolp\\\": {\", \"diolp\": \"5001\"}") << "";
    QTest::newRow("once each") << QByteArray("{\"diolp\": \"5001\", \"webEn\": \"1\"}") << "";
}

void tst_CfgRules::settingsFileWithAKeyTwiceIsRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, problem);
    SettingsFile file;
    const QString got = SettingsEdit::parseFile(json, QStringLiteral("f.json"), file);
    if (problem.isEmpty())
        QVERIFY2(!got.contains(QLatin1String("twice")), qPrintable(got));
    else
        QCOMPARE(got, problem);
    // Nested objects keep their own keys.
    QCOMPARE(repeatedJsonKey("{\"a\": {\"b\": 1}, \"b\": {\"a\": 2, \"c\": [{\"a\": 3}]}}"),
             std::nullopt);
    QCOMPARE(repeatedJsonKey("{\"a\": {\"b\": 1, \"b\": 2}}"), std::optional<QString>("b"));
}

void tst_CfgRules::csvCellsCannotActInASpreadsheet()
{
    const auto row = [](const char* name, const char* mac, const char* ip, const char* password,
                        const char* model, const char* mode) {
        DiscoveryRecord r{};
        std::strncpy(r.deviceName, name, 19);
        std::strncpy(r.macText, mac, 19);
        std::strncpy(r.ipText, ip, 19);
        std::strncpy(r.passwordState, password, 9);
        std::strncpy(r.modelName, model, 19);
        std::strncpy(r.deviceMode, mode, 9);
        return r;
    };
    DeviceRegistry devices;
    devices.addDevice(
        row("=HYPERLINK(\"x\")", "+1", "-2", "@SUM(A1)", "\x1b[31mRed\x07", "a\r\nb"));
    devices.addDevice(row("Hall, 3", "x=1", "", "Yes", "TX-110", "Normal"));
    QCOMPARE(deviceListCsv(devices, allDeviceRows(devices)).split('\n').mid(1),
             QList<QByteArray>({
                 "1,\"'=HYPERLINK(\"\"x\"\")\",'+1,'-2,'@SUM(A1),"
                 "\\x1b[31mRed\\x07,a\\x0d\\x0ab",
                 "2,\"Hall, 3\",x=1,,Yes,TX-110,Normal",
                 "",
             }));
}

void tst_CfgRules::loadKeepsWhatNoControlShows()
{
    SettingsRecord r = serverModule();
    storeField(r.sp0_baud, "14400");
    storeField(r.sp0_dataFmt, "e72");
    storeField(r.sp0_fc, "");
    storeField(r.sp0_opmode, "UDP");
    const CfgEntries e = entriesFromRecord(r);
    // A rate the box lacks is offered after its items and kept as read.
    QVERIFY(e.baudKept);
    QCOMPARE(e.baudExtra, QStringLiteral("14400"));
    QCOMPARE(e.baud, int(kBaudItems.size()));
    // A lower-case parity letter selects the default; the other two are read.
    QCOMPARE(e.parity, kParity.defaultIndex);
    QCOMPARE(e.dataBits, 2);
    QCOMPARE(e.stopBits, 1);
    // An empty text is no setting to keep: the box's default stands.
    QCOMPARE(e.fc, kFlow.defaultIndex);
    QVERIFY(!e.fcKept);
    QVERIFY(e.opmodeKept);
    // Switched-off packing leaves its edit empty; switched-on keeps the text whole.
    QVERIFY(e.dpStrOn && !e.dpTmOn && e.dpLenOn);
    QCOMPARE(e.dpStr0 + e.dpStr1, QStringLiteral("0D0A"));
    QVERIFY(e.dpTm.isEmpty());
    QCOMPARE(e.dpLen, QStringLiteral("0512"));
    // A gateway of 0.0.0.0 leaves the control empty; only the first
    // character of the ping switch counts.
    QVERIFY(!e.gw);
    QCOMPARE(e.ip, std::optional<uint32_t>(0xC000020Au));
    QVERIFY(e.pingEn);
    QVERIFY(!e.remoteIp);
}

void tst_CfgRules::collectionWritesBackWhatNobodyChanged()
{
    SettingsRecord asRead = serverModule();
    storeField(asRead.sp0_baud, "14400");
    storeField(asRead.sp0_opmode, "UDP");
    storeField(asRead.sp0_dpLen, "2000"); // out of range, but nobody could change it
    storeField(asRead.sp0_dpCtrl, "101");
    const CfgEntries loaded = entriesFromRecord(asRead);
    SettingsRecord out = asRead;
    storeField(out.devName, "other");
    const CollectResult result = collectEntries(loaded, loaded, asRead, out);
    QVERIFY2(result.passed(), qPrintable(result.message));
    QCOMPARE(std::memcmp(&out, &asRead, sizeof out), 0);

    // What the user changes is written as the box's item, the delimiter in
    // upper-case pairs.
    CfgEntries now = loaded;
    now.baud = 0;
    now.dpStr0 = QStringLiteral("d");
    now.dpStr1 = QString();
    QVERIFY(collectEntries(now, loaded, asRead, out).passed());
    QCOMPARE(fieldBytes(out.sp0_baud), QByteArray("921600"));
    QCOMPARE(fieldBytes(out.sp0_dpStr), QByteArray("0D"));
}

void tst_CfgRules::collectionRefuses_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("notAnInteger");
    QTest::newRow("blank name") << "devName"
                                << ""
                                << "device name can't be blank" << false;
    QTest::newRow("port in letters") << "diolp"
                                     << "4k"
                                     << "'4k' is not a valid integer value" << true;
    QTest::newRow("changed length") << "dpLen"
                                    << "2000"
                                    << "invalid data packing length" << false;
    QTest::newRow("blank delimiter") << "dpStr0"
                                     << ""
                                     << "port 1 delimiter can't be blank" << false;
    QTest::newRow("delimiter not hex") << "dpStr1"
                                       << "zz"
                                       << "'0xzz' is not a valid integer value" << true;
    QTest::newRow("no address") << "ip"
                                << ""
                                << "invalid IP address" << false;
    QTest::newRow("listen port") << "tcpslport"
                                 << ""
                                 << "port 1 Listen port can't be blank" << false;
    QTest::newRow("client without a remote address") << "client"
                                                     << ""
                                                     << "invalid remote IP" << false;
}

void tst_CfgRules::collectionRefuses()
{
    QFETCH(QString, what);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, notAnInteger);
    const SettingsRecord asRead = serverModule();
    const CfgEntries loaded = entriesFromRecord(asRead);
    CfgEntries now = loaded;
    if (what == QLatin1String("devName"))
        now.devName = text;
    else if (what == QLatin1String("diolp"))
        now.diolp = text;
    else if (what == QLatin1String("dpLen"))
        now.dpLen = text;
    else if (what == QLatin1String("dpStr0"))
        now.dpStr0 = text;
    else if (what == QLatin1String("dpStr1"))
        now.dpStr1 = text;
    else if (what == QLatin1String("ip"))
        now.ip.reset();
    else if (what == QLatin1String("tcpslport"))
        now.tcpslport = text;
    else if (what == QLatin1String("client"))
        now.opmode = kOpModeClient;
    SettingsRecord out = asRead;
    const CollectResult result = collectEntries(now, loaded, asRead, out);
    QCOMPARE(result.message, message);
    QCOMPARE(result.kind,
             notAnInteger ? CollectResult::Kind::NotAnInteger : CollectResult::Kind::Refused);
}

void tst_CfgRules::collectionStopsAtTheFirstRefusal()
{
    const SettingsRecord asRead = serverModule();
    const CfgEntries loaded = entriesFromRecord(asRead);
    CfgEntries now = loaded;
    now.devName = QStringLiteral("Lab");
    now.mask = 0;
    now.tcpslport = QStringLiteral("4100");
    SettingsRecord out = asRead;
    QCOMPARE(collectEntries(now, loaded, asRead, out).message,
             QStringLiteral("invalid netmask address"));
    // What was checked before the refusal is in the record; what follows is not.
    QCOMPARE(fieldBytes(out.devName), QByteArray("Lab"));
    QCOMPARE(fieldBytes(out.lanIp), QByteArray("192.0.2.10"));
    QCOMPARE(fieldBytes(out.sp0_tcpslport), QByteArray("4000"));
}

void tst_CfgRules::valuesGoWhereTheWindowTakesThem()
{
    const SettingsRecord asRead = serverModule();
    const CfgEntries loaded = entriesFromRecord(asRead);

    // A mode named after what it controls still counts: controls first.
    CfgEntries now = loaded;
    QCOMPARE(
        SettingsEdit::apply(named({"sp0_tcpcrip=198.51.100.9", "sp0_opmode=TC"}), &asRead, now),
        QString());
    QCOMPARE(now.opmode, kOpModeClient);
    QCOMPARE(now.remoteIp, std::optional<uint32_t>(0xC6336409u));

    // A control the mode hides cannot be changed; a file passes over it; a
    // value equal to the module's own is no change at all.
    now = loaded;
    QCOMPARE(SettingsEdit::apply(named({"sp0_tcpcrport=6000"}), &asRead, now),
             QStringLiteral("sp0_tcpcrport cannot be changed while sp0_opmode is not TCP Client"));
    now = loaded;
    QCOMPARE(SettingsEdit::apply(named({"sp0_tcpcrport=6000"}), &asRead, now, true), QString());
    QCOMPARE(now.tcpcrport, loaded.tcpcrport);
    QCOMPARE(SettingsEdit::apply(named({"sp0_tcpcrport=5000"}), &asRead, now), QString());

    // Switching the length packing off empties its edit, as unticking its box does.
    now = loaded;
    QCOMPARE(SettingsEdit::apply(named({"sp0_dpCtrl=100"}), &asRead, now), QString());
    QVERIFY(!now.dpLenOn);
    QVERIFY(now.dpLen.isEmpty());

    // A file's value is checked only where it differs from the module's.
    SettingsFile file;
    QCOMPARE(SettingsEdit::parseFile(R"({"diolp": "x", "devName": "Hall"})",
                                     QStringLiteral("f.json"), file),
             QString());
    now = loaded;
    QCOMPARE(SettingsEdit::apply(file.assignments, &asRead, now),
             QStringLiteral("diolp: 'x' is not a valid integer value"));
    SettingsRecord holdsX = asRead;
    storeField(holdsX.diolp, "x");
    now = entriesFromRecord(holdsX);
    QCOMPARE(SettingsEdit::apply(file.assignments, &holdsX, now), QString());
}

QTEST_APPLESS_MAIN(tst_CfgRules)
#include "tst_cfgrules.moc"
