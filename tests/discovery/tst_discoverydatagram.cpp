// The discovery reply parser against the reply layout: accepted shapes, the
// fit requirement of every item type, every invalid case, repeated items and
// what follows the end marker.
#include "discovery/DiscoveryDatagram.h"

#include <QtTest>

#include <cstring>
#include <vector>

using tvx::DiscoveryRecord;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

Bytes item(uint8_t type, const Bytes& value)
{
    return Bytes{type, static_cast<uint8_t>(value.size())} + value;
}

const Bytes kMac = item(1, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});

Bytes reply(const Bytes& items)
{
    return Bytes{0xAA} + items + Bytes{0x55};
}

struct Parsed {
    bool valid = false;
    DiscoveryRecord record{};
};

Parsed parse(const Bytes& datagram)
{
    Parsed out;
    std::memset(&out.record, 0x7E, sizeof out.record); // parse must zero-fill
    out.valid = tvx::parseReply(datagram.data(), datagram.size(), out.record);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestDiscoveryDatagram : public QObject {
    Q_OBJECT
private slots:
    void requestBytes();
    void acceptedReplies_data();
    void acceptedReplies();
    void invalidReplies_data();
    void invalidReplies();
    void everyTypeByte();
    void fitBoundaries_data();
    void fitBoundaries();
    void repeatedItems();
};

void TestDiscoveryDatagram::requestBytes()
{
    QCOMPARE(sizeof tvx::kDiscoveryRequest, size_t(3));
    QCOMPARE(tvx::kDiscoveryRequest[0], uint8_t(0x55));
    QCOMPARE(tvx::kDiscoveryRequest[1], uint8_t(0x01));
    QCOMPARE(tvx::kDiscoveryRequest[2], uint8_t(0xAA));
    QCOMPARE(tvx::kDiscoveryPort, uint16_t(5000));
}

// Columns: the datagram and the fields it must give.
void TestDiscoveryDatagram::acceptedReplies_data()
{
    QTest::addColumn<Bytes>("datagram");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("mode");

    QTest::newRow("MAC only, length byte not read")
        << Bytes{0xAA, 0x01, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x55} << "00:11:22:33:44:55"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("MAC with a wrong length byte")
        << reply(Bytes{0x01, 0x09, 0xDE, 0xAD, 0xBE, 0xEF, 0x0A, 0xFF}) << "DE:AD:BE:EF:0A:FF"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("no items at all") << Bytes{0xAA, 0x55} << ""
                                     << ""
                                     << ""
                                     << ""
                                     << "";
    QTest::newRow("every known item")
        << reply(kMac + item(2, {1, 2, 3}) + item(3, {1, 2, 3, 4}) + item(4, {5, 6, 7, 8})
                 + item(6, text("TX-100")) + item(7, text("Line 4")) + item(8, {1}) + item(9, {})
                 + item(10, {0x0A, 0x01}) + item(11, {1}) + item(12, {9}))
        << "00:11:22:33:44:55"
        << "TX-100"
        << "Line 4"
        << "Yes"
        << "Normal";
    QTest::newRow("password 0 and mode 0")
        << reply(kMac + item(8, {0}) + item(11, {0})) << "00:11:22:33:44:55"
        << ""
        << ""
        << "None"
        << "";
    QTest::newRow("password 2 is None, mode 2 stays empty")
        << reply(kMac + item(8, {2}) + item(11, {2})) << "00:11:22:33:44:55"
        << ""
        << ""
        << "None"
        << "";
    QTest::newRow("fixed items skip whatever their length byte says")
        << reply(Bytes{0x03, 0x00, 1, 2, 3, 4} + Bytes{0x0A, 0x7F, 0x0A, 0x01}
                 + Bytes{0x08, 0x00, 0x01} + kMac)
        << "00:11:22:33:44:55"
        << ""
        << ""
        << "Yes"
        << "";
    QTest::newRow("type 10 skipped as 4 bytes changes nothing")
        << reply(item(10, {0x0A, 0x01}) + item(7, text("dev"))) << ""
        << ""
        << "dev"
        << ""
        << "";
    QTest::newRow("name of length 0 stays empty")
        << reply(kMac + item(6, {}) + item(7, {})) << "00:11:22:33:44:55"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("name bytes copied as they are, 0x55 included")
        << reply(item(7, {'U', 'x', 0x55})) << ""
        << ""
        << "UxU"
        << ""
        << "";
    QTest::newRow("name of 19 bytes kept whole")
        << reply(item(6, text("ABCDEFGHIJKLMNOPQRS"))) << ""
        << "ABCDEFGHIJKLMNOPQRS"
        << ""
        << ""
        << "";
    QTest::newRow("name longer than 19 bytes cut to 19")
        << reply(item(6, text("ABCDEFGHIJKLMNOPQRSTUVWXYZ")) + item(7, Bytes(255, 'n'))) << ""
        << "ABCDEFGHIJKLMNOPQRS" << QString(19, QLatin1Char('n')) << ""
        << "";
    QTest::newRow("bytes after the end marker ignored")
        << Bytes{0xAA} + kMac + Bytes{0x55} + item(7, text("late")) + Bytes{0x05, 0x55}
        << "00:11:22:33:44:55"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("end marker right after the start, garbage after")
        << Bytes{0xAA, 0x55, 0xFF, 0x00, 0x55} << ""
        << ""
        << ""
        << ""
        << "";
}

void TestDiscoveryDatagram::acceptedReplies()
{
    QFETCH(Bytes, datagram);
    QFETCH(QString, mac);
    QFETCH(QString, model);
    QFETCH(QString, device);
    QFETCH(QString, password);
    QFETCH(QString, mode);

    const Parsed p = parse(datagram);
    QVERIFY(p.valid);
    QCOMPARE(QString::fromLatin1(p.record.macText), mac);
    QCOMPARE(QString::fromLatin1(p.record.modelName), model);
    QCOMPARE(QString::fromLatin1(p.record.deviceName), device);
    QCOMPARE(QString::fromLatin1(p.record.passwordState), password);
    QCOMPARE(QString::fromLatin1(p.record.deviceMode), mode);
    // Left for the caller, who knows the sender; zero-filled meanwhile.
    QCOMPARE(p.record.ipText[0], '\0');
    // Every field keeps a terminating zero.
    QCOMPARE(p.record.modelName[sizeof p.record.modelName - 1], '\0');
    QCOMPARE(p.record.deviceName[sizeof p.record.deviceName - 1], '\0');
}

void TestDiscoveryDatagram::invalidReplies_data()
{
    QTest::addColumn<Bytes>("datagram");

    QTest::newRow("empty") << Bytes{};
    QTest::newRow("start byte only") << Bytes{0xAA};
    QTest::newRow("end marker only") << Bytes{0x55};
    QTest::newRow("first byte not 0xAA")
        << Bytes{0xAB, 0x01, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x55};
    QTest::newRow("last byte not 0x55")
        << Bytes{0xAA, 0x01, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x55, 0x00};
    QTest::newRow("the request itself") << Bytes{0x55, 0x01, 0xAA};
    QTest::newRow("type 5 with a valid MAC") << reply(kMac + item(5, {1}));
    QTest::newRow("type 5 before the MAC") << reply(item(5, {}) + kMac);
    QTest::newRow("type 0") << reply(kMac + Bytes{0x00, 0x00});
    QTest::newRow("type 13") << reply(item(13, {1}) + kMac);
    QTest::newRow("type 0xFF") << reply(kMac + Bytes{0xFF});
    QTest::newRow("last 0x55 is a MAC byte, no end marker")
        << Bytes{0xAA, 0x01, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    QTest::newRow("name runs up to the last byte") << Bytes{0xAA, 0x07, 0x04, 'a', 'b', 'c', 0x55};
    QTest::newRow("name longer than the datagram") << Bytes{0xAA, 0x07, 0x05, 'a', 'b', 'c', 0x55};
    QTest::newRow("length byte is the end marker") << Bytes{0xAA, 0x07, 0x55};
    QTest::newRow("items end without a marker")
        << Bytes{0xAA} + kMac + item(2, {0x55}); // last byte 0x55 belongs to the item
}

void TestDiscoveryDatagram::invalidReplies()
{
    QFETCH(Bytes, datagram);
    QVERIFY(!parse(datagram).valid);
}

// Every type byte: the known ones are accepted in a well-formed item, every
// other one (0, 5, 13 to 84, 86 to 255) makes the reply invalid.
void TestDiscoveryDatagram::everyTypeByte()
{
    const std::map<int, Bytes> wellFormed = {
        {1, kMac},
        {2, item(2, {7, 7})},
        {3, item(3, {1, 2, 3, 4})},
        {4, item(4, {1, 2, 3, 4})},
        {6, item(6, text("m"))},
        {7, item(7, text("d"))},
        {8, item(8, {1})},
        {9, item(9, {})},
        {10, item(10, {0x0A, 0x01})},
        {11, item(11, {1})},
        {12, item(12, {3, 3, 3})},
    };
    int invalidTypes = 0;
    for (int type = 0; type < 256; ++type) {
        if (type == 0x55)
            continue;
        const auto known = wellFormed.find(type);
        if (known != wellFormed.end()) {
            QVERIFY2(parse(reply(known->second)).valid, qPrintable(QString::number(type)));
        } else {
            // Room enough for any item, so only the type can be at fault.
            const Bytes body = Bytes{static_cast<uint8_t>(type), 0x01} + Bytes(8, 0x01);
            QVERIFY2(!parse(reply(kMac + body)).valid, qPrintable(QString::number(type)));
            ++invalidTypes;
        }
    }
    QCOMPARE(invalidTypes, 256 - 1 - 11);
}

// Each fixed item must end before the datagram's last byte. Columns: the
// item's type, its whole size, and a datagram cut so the item just fits.
void TestDiscoveryDatagram::fitBoundaries_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("itemSize");
    QTest::newRow("MAC") << 1 << 8;
    QTest::newRow("type 3") << 3 << 6;
    QTest::newRow("type 4") << 4 << 6;
    QTest::newRow("password") << 8 << 3;
    QTest::newRow("type 10") << 10 << 4;
    QTest::newRow("mode") << 11 << 3;
}

void TestDiscoveryDatagram::fitBoundaries()
{
    QFETCH(int, type);
    QFETCH(int, itemSize);
    Bytes fits{0xAA, static_cast<uint8_t>(type)};
    fits.resize(1 + static_cast<size_t>(itemSize), 0x01);
    fits.push_back(0x55);
    QVERIFY(parse(fits).valid);

    // One byte short: the item would swallow the end marker.
    Bytes shortOne(fits.begin(), fits.end() - 2);
    shortOne.push_back(0x55);
    QVERIFY(!parse(shortOne).valid);

    // The item followed by a byte that is not an end marker and then one: the
    // parser must step exactly over the item's size to meet a valid item next.
    Bytes followed(fits.begin(), fits.end() - 1);
    followed = followed + item(9, {}) + Bytes{0x55};
    QVERIFY(parse(followed).valid);
}

void TestDiscoveryDatagram::repeatedItems()
{
    // Later MAC and password items win.
    Parsed p = parse(
        reply(kMac + item(8, {1}) + item(1, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}) + item(8, {0})));
    QVERIFY(p.valid);
    QCOMPARE(QString::fromLatin1(p.record.macText), QStringLiteral("AA:BB:CC:DD:EE:FF"));
    QCOMPARE(QString::fromLatin1(p.record.passwordState), QStringLiteral("None"));

    // A later, shorter name replaces the earlier one whole: no tail of the
    // first name survives behind it.
    p = parse(reply(item(7, text("Warehouse-12")) + item(7, text("Dock")) + item(6, text("TX-9000"))
                    + item(6, {})));
    QVERIFY(p.valid);
    QCOMPARE(QString::fromLatin1(p.record.deviceName), QStringLiteral("Dock"));
    QCOMPARE(QString::fromLatin1(p.record.modelName), QString());

    // A mode item only ever sets "Normal".
    p = parse(reply(item(11, {1}) + item(11, {0})));
    QVERIFY(p.valid);
    QCOMPARE(QString::fromLatin1(p.record.deviceMode), QStringLiteral("Normal"));
}

QTEST_GUILESS_MAIN(TestDiscoveryDatagram)
#include "tst_discoverydatagram.moc"
