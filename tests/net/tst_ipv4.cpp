// Address and MAC conversions, as the workers and the search use them.
#include "net/Ipv4.h"

#include <QtTest>

#include <arpa/inet.h>

using namespace tvx;

class TestIpv4 : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void format_data();
    void format();
    void formatRoundTrip();
    void macBytes_data();
    void macBytes();
};

static uint32_t net(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return htonl((uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d);
}

void TestIpv4::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("strict");
    QTest::addColumn<uint>("expected");
    const uint none = kInaddrNone;
    QTest::newRow("ordinary") << QByteArray("192.0.2.17") << false << uint(net(192, 0, 2, 17));
    QTest::newRow("ordinary strict")
        << QByteArray("192.0.2.17") << true << uint(net(192, 0, 2, 17));
    QTest::newRow("zero lenient is 0") << QByteArray("0.0.0.0") << false << 0u;
    QTest::newRow("zero strict is none") << QByteArray("0.0.0.0") << true << none;
    QTest::newRow("all ones lenient") << QByteArray("255.255.255.255") << false << none;
    QTest::newRow("all ones strict") << QByteArray("255.255.255.255") << true << none;
    QTest::newRow("empty") << QByteArray("") << false << none;
    QTest::newRow("octet too big") << QByteArray("192.0.2.256") << false << none;
    QTest::newRow("trailing junk") << QByteArray("192.0.2.1x") << false << none;
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false << none;
    // The classic reader's shorter forms and bases are kept on purpose: the
    // search dialog and the module's own texts have always been read so.
    QTest::newRow("one part") << QByteArray("3221225985") << false << uint(net(192, 0, 2, 1));
    QTest::newRow("three parts") << QByteArray("192.0.513") << false << uint(net(192, 0, 2, 1));
    QTest::newRow("octal part") << QByteArray("192.0.2.010") << false << uint(net(192, 0, 2, 8));
    QTest::newRow("hex part") << QByteArray("0xC0.0.2.1") << false << uint(net(192, 0, 2, 1));
    QTest::newRow("bad octal") << QByteArray("192.0.2.09") << false << none;
    QTest::newRow("zero text in hex strict") << QByteArray("0x0") << true << none;
}

void TestIpv4::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, strict);
    QFETCH(uint, expected);
    QCOMPARE(uint(parseIpv4(text.constData(), strict)), expected);
}

void TestIpv4::format_data()
{
    QTest::addColumn<uint>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first octet first") << uint(net(192, 0, 2, 1)) << "192.0.2.1";
    QTest::newRow("no leading zeros") << uint(net(10, 0, 0, 9)) << "10.0.0.9";
    QTest::newRow("widest") << uint(net(255, 255, 255, 255)) << "255.255.255.255";
    QTest::newRow("zero") << 0u << "0.0.0.0";
}

void TestIpv4::format()
{
    QFETCH(uint, address);
    QFETCH(QString, expected);
    char out[16];
    std::memset(out, 'x', sizeof out);
    formatIpv4(address, out);
    QCOMPARE(QString::fromLatin1(out), expected);
}

void TestIpv4::formatRoundTrip()
{
    char out[16];
    for (uint32_t a : {net(198, 51, 100, 200), net(203, 0, 113, 1), net(1, 2, 3, 4)}) {
        formatIpv4(a, out);
        QCOMPARE(parseIpv4(out, true), a);
    }
}

void TestIpv4::macBytes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray mixed = QByteArray::fromHex("001A2B3C4D5E");
    QTest::newRow("colons, mixed case") << QByteArray("00:1A:2b:3C:4d:5E") << mixed;
    QTest::newRow("dashes") << QByteArray("00-1A-2B-3C-4D-5E") << mixed;
    QTest::newRow("any separator") << QByteArray("00.1a 2B_3c/4D|5e") << mixed;
    QTest::newRow("leading zero bytes")
        << QByteArray("00:00:1A:2B:3C:4D") << QByteArray::fromHex("00001A2B3C4D");
    QTest::newRow("all ones") << QByteArray("ff:FF:ff:FF:ff:FF")
                              << QByteArray::fromHex("FFFFFFFFFFFF");
    QTest::newRow("group without hex digit is 0")
        << QByteArray("zz:1A:2B:3C:4D:5E") << QByteArray::fromHex("001A2B3C4D5E");
    QTest::newRow("second digit not hex")
        << QByteArray("0g:1A:2B:3C:4D:5E") << QByteArray::fromHex("001A2B3C4D5E");
    QTest::newRow("short text") << QByteArray("AB:CD") << QByteArray::fromHex("ABCD00000000");
}

void TestIpv4::macBytes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    uint8_t out[6];
    std::memset(out, 0x77, sizeof out);
    macTextToBytes(text.constData(), out);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), 6).toHex(), expected.toHex());
}

QTEST_APPLESS_MAIN(TestIpv4)
#include "tst_ipv4.moc"
