// The privileged helper's argument checks: everything it is given is suspect.
#include "NetpinArguments.h"

#include <QtTest>

#include <arpa/inet.h>

using namespace tvx::netpin;

class TestNetpinArguments : public QObject {
    Q_OBJECT
private slots:
    void dottedQuad_data();
    void dottedQuad();
    void mac_data();
    void mac();
    void ifIndex_data();
    void ifIndex();
    void addressClasses_data();
    void addressClasses();
    void macClasses();
    void allowedRanges();
};

void TestNetpinArguments::dottedQuad_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("back");
    QTest::newRow("plain") << QByteArray("203.0.113.7") << true << "203.0.113.7";
    QTest::newRow("zeros") << QByteArray("0.0.0.0") << true << "0.0.0.0";
    QTest::newRow("widest") << QByteArray("255.255.255.255") << true << "255.255.255.255";
    QTest::newRow("leading zero") << QByteArray("203.0.113.07") << false << "";
    QTest::newRow("octet 256") << QByteArray("203.0.113.256") << false << "";
    QTest::newRow("three parts") << QByteArray("203.0.113") << false << "";
    QTest::newRow("one number") << QByteArray("3405803783") << false << "";
    QTest::newRow("hex") << QByteArray("0xCB.0.113.7") << false << "";
    QTest::newRow("sign") << QByteArray("+203.0.113.7") << false << "";
    QTest::newRow("space") << QByteArray(" 203.0.113.7") << false << "";
    QTest::newRow("trailing dot") << QByteArray("203.0.113.7.") << false << "";
    QTest::newRow("empty part") << QByteArray("203..113.7") << false << "";
    QTest::newRow("option-like") << QByteArray("-v") << false << "";
    QTest::newRow("very long") << QByteArray(4000, '1') << false << "";
}

void TestNetpinArguments::dottedQuad()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(QString, back);
    const auto parsed = parseDottedQuad(text.constData());
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(QString::fromStdString(formatAddress(*parsed)), back);
}

void TestNetpinArguments::mac_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: refused
    QTest::newRow("upper") << QByteArray("00:1A:2B:3C:4D:5E")
                           << QByteArray::fromHex("001A2B3C4D5E");
    QTest::newRow("lower") << QByteArray("02:0a:bb:cc:dd:ee")
                           << QByteArray::fromHex("020ABBCCDDEE");
    QTest::newRow("dashes") << QByteArray("00-1A-2B-3C-4D-5E") << QByteArray();
    QTest::newRow("short") << QByteArray("00:1A:2B:3C:4D") << QByteArray();
    QTest::newRow("long") << QByteArray("00:1A:2B:3C:4D:5E:6F") << QByteArray();
    QTest::newRow("not hex") << QByteArray("00:1A:2B:3C:4D:5G") << QByteArray();
    QTest::newRow("one digit groups") << QByteArray("0:1:2:3:4:5:6:7:8") << QByteArray();
}

void TestNetpinArguments::mac()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    uint8_t out[6] = {};
    const bool ok = parseMac(text.constData(), out);
    QCOMPARE(ok, !bytes.isEmpty());
    if (ok)
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), 6), bytes);
}

void TestNetpinArguments::ifIndex_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected"); // 0: refused
    QTest::newRow("one") << QByteArray("1") << 1;
    QTest::newRow("large") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("overflow") << QByteArray("2147483648") << 0;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("leading zero") << QByteArray("07") << 0;
    QTest::newRow("negative") << QByteArray("-3") << 0;
    QTest::newRow("name") << QByteArray("eth0") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
}

void TestNetpinArguments::ifIndex()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    const auto parsed = parseIfIndex(text.constData());
    QCOMPARE(parsed.value_or(0), expected);
}

void TestNetpinArguments::addressClasses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("refused");
    QTest::newRow("documentation") << QByteArray("203.0.113.7") << false;
    QTest::newRow("private") << QByteArray("10.1.2.3") << false;
    QTest::newRow("link-local") << QByteArray("169.254.1.1") << false;
    QTest::newRow("unspecified") << QByteArray("0.0.0.0") << true;
    QTest::newRow("this network") << QByteArray("0.1.2.3") << true;
    QTest::newRow("loopback") << QByteArray("127.0.0.1") << true;
    QTest::newRow("loopback other") << QByteArray("127.8.9.10") << true;
    QTest::newRow("multicast") << QByteArray("224.0.0.1") << true;
    QTest::newRow("multicast top") << QByteArray("239.255.255.255") << true;
    QTest::newRow("reserved") << QByteArray("240.0.0.1") << true;
    QTest::newRow("broadcast") << QByteArray("255.255.255.255") << true;
}

void TestNetpinArguments::addressClasses()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, refused);
    const auto address = parseDottedQuad(text.constData());
    QVERIFY(address);
    QCOMPARE(refusedAddressClass(*address) != nullptr, refused);
}

void TestNetpinArguments::macClasses()
{
    const uint8_t unicast[6] = {0x02, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
    const uint8_t zeroFirst[6] = {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D};
    const uint8_t zero[6] = {};
    const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t multicast[6] = {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
    QVERIFY(!refusedMacClass(unicast));
    QVERIFY(!refusedMacClass(zeroFirst));
    QVERIFY(refusedMacClass(zero));
    QVERIFY(refusedMacClass(broadcast));
    QVERIFY(refusedMacClass(multicast));
}

// The administrator's file widens the ranges; a bad line voids the whole file.
void TestNetpinArguments::allowedRanges()
{
    NetpinConfig config;
    std::string error;
    QVERIFY(parseNetpinConfig("# plant\n\nallow 100.0.0.0/8\n  allow 8.8.8.8/32 # one\n"
                              "allow-routed 10.20.0.0/16\n",
                              config, error));
    const auto& ranges = config.allowed;
    QCOMPARE(ranges.size(), size_t(3));
    QVERIFY(ranges[0].contains(*parseDottedQuad("100.200.1.2")));
    QVERIFY(!ranges[0].contains(*parseDottedQuad("101.0.0.1")));
    QVERIFY(ranges[1].contains(*parseDottedQuad("8.8.8.8")));
    QVERIFY(!ranges[1].contains(*parseDottedQuad("8.8.8.9")));
    // Allowed where routed is allowed at all; only that line where routed.
    QVERIFY(ranges[2].contains(*parseDottedQuad("10.20.3.4")));
    QCOMPARE(config.allowedRouted.size(), size_t(1));
    QVERIFY(config.allowedRouted[0].contains(*parseDottedQuad("10.20.3.4")));
    QVERIFY(!config.allowedRouted[0].contains(*parseDottedQuad("10.21.0.1")));
    for (const char* bad : {"allow 0.0.0.0/0\n", "allow 10.0.0.1/8\n", "permit 10.0.0.0/8\n",
                            "allow 10.0.0.0/8 extra\n", "allow 10.0.0.0/033\n", "allow 10.0.0.0\n",
                            "allow-routed 10.0.0.0/7\n", "allow routed 10.0.0.0/8\n"}) {
        NetpinConfig out;
        out.allowed = {ranges[0]};
        QVERIFY2(!parseNetpinConfig(bad, out, error), bad);
        QCOMPARE(out.allowed.size(), size_t(1)); // untouched
        QVERIFY(error.rfind("line 1: ", 0) == 0);
    }
    QVERIFY(inDefaultModuleRanges(*parseDottedQuad("100.64.0.1")));
    QVERIFY(inDefaultModuleRanges(*parseDottedQuad("198.19.255.255")));
    QVERIFY(!inDefaultModuleRanges(*parseDottedQuad("8.8.8.8")));
    QVERIFY(!inDefaultModuleRanges(*parseDottedQuad("172.32.0.1")));
}

QTEST_APPLESS_MAIN(TestNetpinArguments)
#include "tst_netpinarguments.moc"
