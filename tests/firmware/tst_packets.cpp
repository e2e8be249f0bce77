// The transfer's datagrams byte for byte: the write request, the file name
// taken from a path, and the answers the transfer accepts.
#include "firmware/TftpWrite.h"

#include <QtTest>

#include <string>

using namespace tvx;

namespace {
QByteArray request(std::string_view path, int64_t size)
{
    uint8_t out[kRequestRoom + 8];
    std::memset(out, 0xEE, sizeof out);
    const size_t n = buildWriteRequest(firmwareFileName(path), size, out);
    // Nothing beyond the returned length is touched.
    for (size_t i = n; i < sizeof out; ++i) {
        if (out[i] != 0xEE)
            return QByteArray("overwrite");
    }
    return QByteArray(reinterpret_cast<const char*>(out), static_cast<int>(n));
}
} // namespace

class TestFirmwarePackets : public QObject {
    Q_OBJECT
private slots:
    void fileNameAfterLastSeparator_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("slash") << "/home/admin/fw/abc.aff"
                               << "abc.aff";
        QTest::newRow("backslash") << "C:\\fw\\abcdefg"
                                   << "abcdefg";
        QTest::newRow("drive colon") << "C:abc.aff"
                                     << "abc.aff";
        QTest::newRow("mixed, last wins") << "/srv/a\\b:c/d\\e.aff"
                                          << "e.aff";
        QTest::newRow("none") << "fw-1.05.aff"
                              << "fw-1.05.aff";
        QTest::newRow("trailing slash") << "/tmp/"
                                        << "";
    }
    void fileNameAfterLastSeparator()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        const std::string p = path.toStdString();
        QCOMPARE(QString::fromStdString(std::string(firmwareFileName(p))), name);
    }

    void requestOfThe3000ByteExample()
    {
        const QByteArray expected = QByteArray("\x00\x02", 2) + "abcdefg" + '\0' + "octet" + '\0'
            + "blksize=1024" + '\0' + "tsize" + '\0' + "3000" + '\0';
        QCOMPARE(expected.size(), 40);
        QCOMPARE(request("C:\\firmware\\abcdefg", 3000), expected);
        QCOMPARE(request("/home/admin/abcdefg", 3000), expected);
        QCOMPARE(writeRequestLength(7, 3000), size_t(40));
    }

    void pathWithoutSeparatorIsSentWhole()
    {
        const QByteArray got = request("fw105.aff", 123456);
        QCOMPARE(got,
                 QByteArray("\x00\x02", 2) + "fw105.aff" + '\0' + "octet" + '\0' + "blksize=1024"
                     + '\0' + "tsize" + '\0' + "123456" + '\0');
        QCOMPARE(got.size(), 9 + 6 + 29);
    }

    void requestNeverOutgrowsItsRoom()
    {
        // 100 bytes exactly fit; one more is refused and nothing is written.
        const std::string fits(100 - 29 - 4, 'n');
        QCOMPARE(request("/x/" + fits, 3000).size(), 100);
        QCOMPARE(longestFileName(3000), fits.size());
        const std::string tooLong = fits + "n";
        QCOMPARE(request("/x/" + tooLong, 3000), QByteArray());
        // The room left for the name shrinks with the digits of the size.
        QCOMPARE(longestFileName(9), size_t(70));
        QCOMPARE(longestFileName(1234567890), size_t(61));
    }

    void optionAcknowledgement_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("bare") << QByteArray("\x00\x06", 2) << true;
        QTest::newRow("with options") << QByteArray("\x00\x06"
                                                    "blksize\0"
                                                    "1024\0",
                                                    15)
                                      << true;
        QTest::newRow("ack instead") << QByteArray("\x00\x04\x00\x00", 4) << false;
        QTest::newRow("one byte") << QByteArray("\x00", 1) << false;
        QTest::newRow("error") << QByteArray("\x00\x05\x00\x01x\0", 6) << false;
        QTest::newRow("first byte set") << QByteArray("\x01\x06", 2) << false;
    }
    void optionAcknowledgement()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        QCOMPARE(isOptionAck(reinterpret_cast<const uint8_t*>(answer.constData()),
                             static_cast<size_t>(answer.size())),
                 accepted);
    }

    void blockNumbersCarryTheLow16Bits()
    {
        uint8_t header[4];
        const std::pair<uint32_t, QByteArray> cases[] = {
            {1, QByteArray("\x00\x03\x00\x01", 4)},     {256, QByteArray("\x00\x03\x01\x00", 4)},
            {65535, QByteArray("\x00\x03\xff\xff", 4)}, {65536, QByteArray("\x00\x03\x00\x00", 4)},
            {65537, QByteArray("\x00\x03\x00\x01", 4)},
        };
        for (const auto& [block, bytes] : cases) {
            putDataHeader(block, header);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(header), 4), bytes);
        }
        const uint8_t wrapped[4] = {0x00, 0x04, 0x00, 0x00};
        QVERIFY(isAckFor(wrapped, 4, 65536));
        QVERIFY(!isAckFor(wrapped, 4, 65535));
    }

    void blockAcknowledgement_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right block") << QByteArray("\x00\x04\x01\x02", 4) << true;
        QTest::newRow("previous block") << QByteArray("\x00\x04\x01\x01", 4) << false;
        QTest::newRow("five bytes") << QByteArray("\x00\x04\x01\x02\x00", 5) << false;
        QTest::newRow("three bytes") << QByteArray("\x00\x04\x01", 3) << false;
        QTest::newRow("option ack") << QByteArray("\x00\x06\x01\x02", 4) << false;
        QTest::newRow("error packet") << QByteArray("\x00\x05\x01\x02", 4) << false;
    }
    void blockAcknowledgement()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        QCOMPARE(isAckFor(reinterpret_cast<const uint8_t*>(answer.constData()),
                          static_cast<size_t>(answer.size()), 0x0102),
                 accepted);
    }
};

QTEST_APPLESS_MAIN(TestFirmwarePackets)
#include "tst_packets.moc"
