// The configuration window's text rules without the window: the dotted-quad
// reading of the load, the integer conversion of the save, the checks that
// settings given by name pass before any module is asked, and the texts that
// leave the program (settings files read, the device list's CSV).
#include "config/DeviceListText.h"
#include "config/DottedQuad.h"
#include "config/IntegerText.h"
#include "config/JsonText.h"
#include "config/SettingsEdit.h"
#include "discovery/DeviceRegistry.h"

#include <QTest>

#include <cstring>

using namespace tvx;

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

QTEST_APPLESS_MAIN(tst_CfgRules)
#include "tst_cfgrules.moc"
