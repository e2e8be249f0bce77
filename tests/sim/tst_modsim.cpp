// The simulator's discovery reply, command replies and firmware receiver, checked against
// the wire layout rather than against the simulator's own code.

#include "CommandSession.h"
#include "DiscoveryReply.h"
#include "ModuleConfig.h"
#include "TftpReceiver.h"

#include <QtTest>

using namespace tvx::sim;

namespace {

struct Parsed {
    bool valid = false;
    QString mac, model, name, password, mode;
    QList<int> types;
};

// The receiving side's rules, written out here from the wire layout: fixed sizes for types 1,
// 3, 4, 8, 10, 11, length byte for 2, 6, 7, 9, 12, 0x55 ends, anything else is invalid.
Parsed parse(const std::vector<std::uint8_t>& d)
{
    Parsed r;
    const std::size_t n = d.size();
    if (n == 0 || d[0] != 0xAA || d[n - 1] != 0x55)
        return r;
    std::size_t p = 1;
    while (p < n) {
        const int t = d[p];
        r.types << t;
        if (t == 1) {
            if (!(p + 8 < n))
                return r;
            r.mac = QByteArray(reinterpret_cast<const char*>(&d[p + 2]), 6).toHex(':').toUpper();
            p += 8;
        } else if (t == 2 || t == 9 || t == 12 || t == 6 || t == 7) {
            if (!(p + 1 < n) || !(p + 1 + d[p + 1] < n))
                return r;
            const QString text =
                QString::fromLatin1(reinterpret_cast<const char*>(&d[p + 2]), d[p + 1]);
            if (t == 6)
                r.model = text;
            if (t == 7)
                r.name = text;
            p += d[p + 1] + 2;
        } else if (t == 3 || t == 4) {
            if (d[p + 1] != 4)
                return r; // the layout promises 4 bytes; the parser would not notice, we do
            p += 6;
            if (!(p < n))
                return r;
        } else if (t == 8) {
            if (!(p + 3 < n))
                return r;
            r.password = d[p + 2] == 1 ? "Yes" : "None";
            p += 3;
        } else if (t == 10) {
            if (!(p + 4 < n) || d[p + 1] != 2)
                return r;
            p += 4;
        } else if (t == 11) {
            if (!(p + 3 < n))
                return r;
            r.mode = d[p + 2] == 1 ? "Normal" : "";
            p += 3;
        } else if (t == 0x55) {
            r.valid = true;
            return r;
        } else {
            return r;
        }
    }
    return r;
}

std::vector<std::uint8_t> bytes(const QByteArray& a)
{
    return {a.begin(), a.end()};
}

QByteArray qbytes(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<int>(v.size()));
}

ModuleConfig sample()
{
    ModuleConfig c;
    std::string error;
    const bool ok = ModuleConfig::parse("m1 ip=192.0.2.11/24 mac=02:54:58:01:00:07 password=abc "
                                        "devname=Line-7 model=TX-120",
                                        c, &error);
    Q_ASSERT(ok);
    return c;
}

QByteArray dataPacket(unsigned block, const QByteArray& payload)
{
    QByteArray p("\x00\x03", 2);
    p += char((block >> 8) & 0xFF);
    p += char(block & 0xFF);
    return p + payload;
}

QByteArray request(bool moduleForm, int size, int blksize = 1024)
{
    QByteArray r("\x00\x02", 2);
    r += QByteArray("fw.aff") + '\0' + "octet" + '\0';
    if (moduleForm)
        r += "blksize=" + QByteArray::number(blksize) + '\0';
    else
        r += QByteArray("blksize") + '\0' + QByteArray::number(blksize) + '\0';
    r += QByteArray("tsize") + '\0' + QByteArray::number(size) + '\0';
    return r;
}

QByteArray image(int size)
{
    QByteArray img("\x55\xAA\xF1V2.10", 8);
    img += '\0';
    while (img.size() < size)
        img += char(img.size() & 0xFF);
    return img;
}

// Feeds a whole image; returns the packets answered per data packet.
QList<QList<QByteArray>> feed(TftpReceiver& r, const QByteArray& img, int blksize = 1024)
{
    QList<QList<QByteArray>> out;
    unsigned block = 1;
    for (int off = 0;; off += blksize, ++block) {
        const QByteArray chunk = img.mid(off, blksize);
        const auto pkt = bytes(dataPacket(block & 0xFFFF, chunk));
        QList<QByteArray> answers;
        for (const TftpPacket& p : r.onData(pkt.data(), pkt.size()))
            answers << qbytes(p.bytes);
        out << answers;
        if (chunk.size() < blksize)
            break;
    }
    return out;
}

QByteArray ack(unsigned block)
{
    return qbytes(TftpReceiver::ack(block));
}

} // namespace

class ModSimTest : public QObject {
    Q_OBJECT

private slots:
    void discoveryReplyFollowsTheLayout()
    {
        const ModuleConfig c = sample();
        Faults none;
        const auto reply = encodeDiscoveryReply(discoveryInfo(c), none);
        const Parsed p = parse(reply);
        QVERIFY(p.valid);
        QCOMPARE(p.types, (QList<int>{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 0x55}));
        QCOMPARE(p.mac, QStringLiteral("02:54:58:01:00:07"));
        QCOMPARE(p.model, QStringLiteral("TX-120"));
        QCOMPARE(p.name, QStringLiteral("Line-7"));
        QCOMPARE(p.password, QStringLiteral("Yes"));
        QCOMPARE(p.mode, QStringLiteral("Normal"));
        // The address items carry the address, the model code is big-endian.
        const QByteArray r = qbytes(reply);
        QVERIFY(r.contains(QByteArray::fromHex("0304c000020b")));
        QVERIFY(r.contains(QByteArray::fromHex("0a020a01")));
        QVERIFY(isDiscoveryRequest(reinterpret_cast<const std::uint8_t*>("\x55\x01\xAA"), 3));
        QVERIFY(!isDiscoveryRequest(reinterpret_cast<const std::uint8_t*>("\x55\x01\xAA\x00"), 4));
    }

    void faultyDiscoveryReplies_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("valid");
        for (const char* kind :
             {"start", "end", "type5", "type13", "mac", "fixed", "overrun", "noend"})
            QTest::newRow(kind) << QStringLiteral("disc-bad=") + kind << false;
        QTest::newRow("trailer") << QStringLiteral("disc-trailer") << true;
        QTest::newRow("longname") << QStringLiteral("disc-longname") << true;
    }

    void faultyDiscoveryReplies()
    {
        QFETCH(QString, fault);
        QFETCH(bool, valid);
        Faults f;
        QVERIFY(f.add(fault.toStdString()));
        const auto reply = encodeDiscoveryReply(discoveryInfo(sample()), f);
        const Parsed p = parse(reply);
        QCOMPARE(p.valid, valid);
        if (fault == QLatin1String("disc-bad=type5"))
            QVERIFY(!p.mac.isEmpty()); // refused although the MAC came first
        if (fault == QLatin1String("disc-longname"))
            QVERIFY(p.name.size() > 19);
        if (fault.startsWith(QLatin1String("disc-bad=")) && fault != QLatin1String("disc-bad=start")
            && fault != QLatin1String("disc-bad=end"))
            QCOMPARE(reply.back(), std::uint8_t(0x55)); // only the walk can find the fault
    }

    void readCommandsEchoTheirNames()
    {
        ModuleConfig c = sample();
        Faults none;
        CommandSession s(c.settings, none, c.modelName, c.modelCode);
        QCOMPARE(QByteArray::fromStdString(s.handle("$GBN").reply), QByteArray("%NOLOG\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$LOG").reply), QByteArray("%LOGERR\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$LOGab").reply), QByteArray("%LOGERR\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$LOGabc").reply), QByteArray("%LOGOK\r\n"));

        const QList<QPair<QByteArray, QByteArray>> expected = {{"GBN", "Line-7"},
                                                               {"GBC", "1"},
                                                               {"GBD", "5001"},
                                                               {"GBV", "V1.05"},
                                                               {"GSMA", "TS"},
                                                               {"GSVPA", "4000"},
                                                               {"GSCPA", "4000"},
                                                               {"GSCIA", "0.0.0.0"},
                                                               {"GSCCA", "0"},
                                                               {"GSBA", "115200"},
                                                               {"GSDA", "N81"},
                                                               {"GSFA", "NONE"},
                                                               {"GSIA", "RS-232"},
                                                               {"GSPCA", "010"},
                                                               {"GSPLA", "1024"},
                                                               {"GSPTA", "50"},
                                                               {"GSPSA", "0D0A"},
                                                               {"GLI", "192.0.2.11"},
                                                               {"GLN", "255.255.255.0"},
                                                               {"GLG", "192.0.2.1"},
                                                               {"GLC", "0"},
                                                               {"GLA", "1"},
                                                               {"GLM", "02:54:58:01:00:07"},
                                                               {"GLS", "100M Full Duplex"}};
        for (const auto& [cmd, value] : expected) {
            const QByteArray reply =
                QByteArray::fromStdString(s.handle("$" + cmd.toStdString()).reply);
            QCOMPARE(reply, "%" + cmd + value + "\r\n");
            QVERIFY(reply.size() <= 128);
        }
        QVERIFY(QByteArray::fromStdString(s.handle("$GBI").reply).startsWith("%GBI"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$GXX").reply), QByteArray("%ERR\r\n"));
    }

    void writesWaitForApply()
    {
        ModuleConfig c = sample();
        Faults none;
        CommandSession s(c.settings, none, c.modelName, c.modelCode);
        s.handle("$LOGabc");
        QCOMPARE(QByteArray::fromStdString(s.handle("$SBNNew name").reply),
                 QByteArray("%SBNOK\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$SSPSA0A0D").reply),
                 QByteArray("%SSPSAOK\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$SBC0").reply), QByteArray("%SBCOK\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$SBP").reply), QByteArray("%SBPOK\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$SSDAX81").reply), QByteArray("%SSDAERR\r\n"));
        QCOMPARE(QByteArray::fromStdString(s.handle("$SLI192.0.2.300").reply),
                 QByteArray("%SLIERR\r\n"));
        QCOMPARE(c.settings["devName"], std::string("Line-7"));

        const CommandOutcome sei = s.handle("$SEI");
        QCOMPARE(sei.action, CommandAction::ApplyAndRestart);
        QCOMPARE(s.apply(), 4);
        QCOMPARE(c.settings["devName"], std::string("New name"));
        QCOMPARE(c.settings["dpStr"], std::string("0A0D"));
        QCOMPARE(c.settings["password"], std::string(""));
        QCOMPARE(QByteArray::fromStdString(s.handle("$GBC").reply), QByteArray("%GBC0\r\n"));
        QCOMPARE(s.handle("$SER").action, CommandAction::Restart);
        QCOMPARE(s.handle("$SEF").action, CommandAction::ArmTransfer);
    }

    void replyFaultsChangeTheText_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("noecho read") << "noecho@GSVPA"
                                     << "$GSVPA" << QByteArray("%4000\r\n");
        QTest::newRow("noecho write") << "noecho"
                                      << "$SBNx" << QByteArray("%OK\r\n");
        QTest::newRow("empty") << "empty@GBN"
                               << "$GBN" << QByteArray("%\r\n");
        QTest::newRow("noframe") << "noframe"
                                 << "$GBN" << QByteArray("GBNLine-7\r\n");
        QTest::newRow("other command untouched") << "empty@GBD"
                                                 << "$GBN" << QByteArray("%GBNLine-7\r\n");
        QTest::newRow("refuselogin") << "refuselogin"
                                     << "$LOGabc" << QByteArray("%LOGERR\r\n");
    }

    void replyFaultsChangeTheText()
    {
        QFETCH(QString, fault);
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        ModuleConfig c = sample();
        QVERIFY(c.faults.add(fault.toStdString()));
        CommandSession s(c.settings, c.faults, c.modelName, c.modelCode);
        if (!command.startsWith(QLatin1String("$LOG")))
            s.handle("$LOGabc");
        QCOMPARE(QByteArray::fromStdString(s.handle(command.toStdString()).reply), reply);
    }

    void longReplyExceeds128Bytes()
    {
        ModuleConfig c = sample();
        QVERIFY(c.faults.add("long@GLS"));
        CommandSession s(c.settings, c.faults, c.modelName, c.modelCode);
        s.handle("$LOGabc");
        const std::string r = s.handle("$GLS").reply;
        QVERIFY(r.size() > 128);
        QVERIFY(r.rfind("%GLS100M", 0) == 0);
        QVERIFY(r.size() >= 2 && r.substr(r.size() - 2) == "\r\n");
        QVERIFY(!c.faults.add("nonsense"));
    }

    void transferInBothOptionForms_data()
    {
        QTest::addColumn<bool>("moduleForm");
        QTest::newRow("module form") << true;
        QTest::newRow("standard form") << false;
    }

    void transferInBothOptionForms()
    {
        QFETCH(bool, moduleForm);
        Faults none;
        TftpReceiver r(none);
        const QByteArray img = image(3000);
        const auto req = bytes(request(moduleForm, img.size()));
        const auto answer = r.onRequest(req.data(), req.size());
        QCOMPARE(answer.size(), std::size_t(1));
        QCOMPARE(qbytes(answer[0].bytes),
                 QByteArray("\x00\x06"
                            "blksize\x00"
                            "1024\x00"
                            "tsize\x00"
                            "3000\x00",
                            26));
        QCOMPARE(r.optionsInModuleForm(), moduleForm);
        QCOMPARE(r.fileName(), std::string("fw.aff"));

        const auto acks = feed(r, img);
        QCOMPARE(acks, (QList<QList<QByteArray>>{{ack(1)}, {ack(2)}, {ack(3)}}));
        QCOMPARE(r.state(), TftpReceiver::State::Complete);
        QCOMPARE(qbytes(r.image()), img);
        QCOMPARE(r.imageVersion(), std::string("V2.10"));
    }

    void exactMultipleEndsWithEmptyBlock()
    {
        Faults none;
        TftpReceiver r(none);
        const QByteArray img = image(2048);
        const auto req = bytes(request(true, img.size()));
        r.onRequest(req.data(), req.size());
        const auto acks = feed(r, img);
        QCOMPARE(acks.size(), 3); // 1024, 1024, then a packet without data
        QCOMPARE(r.state(), TftpReceiver::State::Complete);
    }

    void repeatedBlockIsKeptOnce()
    {
        Faults none;
        TftpReceiver r(none);
        const QByteArray img = image(1500);
        const auto req = bytes(request(true, img.size()));
        r.onRequest(req.data(), req.size());
        const auto b1 = bytes(dataPacket(1, img.left(1024)));
        QCOMPARE(qbytes(r.onData(b1.data(), b1.size()).at(0).bytes), ack(1));
        QCOMPARE(qbytes(r.onData(b1.data(), b1.size()).at(0).bytes), ack(1));
        const auto b2 = bytes(dataPacket(2, img.mid(1024)));
        QCOMPARE(qbytes(r.onData(b2.data(), b2.size()).at(0).bytes), ack(2));
        QCOMPARE(qbytes(r.image()), img);
        // The last block may come again too, if its ack was lost.
        QCOMPARE(qbytes(r.onData(b2.data(), b2.size()).at(0).bytes), ack(2));
        // A block out of order ends the transfer with an error packet.
        TftpReceiver r2(none);
        r2.onRequest(req.data(), req.size());
        const auto b3 = bytes(dataPacket(3, img.left(1024)));
        QCOMPARE(r2.onData(b3.data(), b3.size()).at(0).bytes.at(1), std::uint8_t(5));
        QCOMPARE(r2.state(), TftpReceiver::State::Failed);
    }

    void blockNumbersWrapAt16Bits()
    {
        Faults none;
        TftpReceiver r(none);
        const int blksize = 8;
        const int blocks = 65537; // ... 65535, 0, 1 (the last one short)
        const QByteArray img = image(blksize * (blocks - 1) + 3);
        const auto req = bytes(request(false, img.size(), blksize));
        r.onRequest(req.data(), req.size());
        const auto acks = feed(r, img, blksize);
        QCOMPARE(acks.size(), blocks);
        QCOMPARE(acks.at(65534), QList<QByteArray>{ack(65535)});
        QCOMPARE(acks.at(65535), QList<QByteArray>{ack(0)});
        QCOMPARE(acks.at(65536), QList<QByteArray>{ack(1)});
        QCOMPARE(r.state(), TftpReceiver::State::Complete);
        QCOMPARE(qbytes(r.image()), img);
    }

    void badImagesAreRefusedAtTheEnd_data()
    {
        QTest::addColumn<QByteArray>("img");
        QTest::addColumn<int>("tsize");
        QTest::newRow("shorter than tsize") << image(1500) << 1600;
        QByteArray bad = image(1500);
        bad[2] = char(0xF0);
        QTest::newRow("wrong magic") << bad << 1500;
    }

    void badImagesAreRefusedAtTheEnd()
    {
        QFETCH(QByteArray, img);
        QFETCH(int, tsize);
        Faults none;
        TftpReceiver r(none);
        const auto req = bytes(request(true, tsize));
        r.onRequest(req.data(), req.size());
        const auto acks = feed(r, img);
        QCOMPARE(acks.at(0), QList<QByteArray>{ack(1)});
        QCOMPARE(quint8(acks.at(1).at(0).at(1)), quint8(5)); // error packet, not ack 2
        QCOMPARE(r.state(), TftpReceiver::State::Failed);
    }

    void transferFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("requestAnswer");
        QTest::addColumn<QList<QByteArray>>("block2Answers"); // answers to block 2, sent twice
        const QByteArray oack("\x00\x06"
                              "blksize\x00"
                              "1024\x00"
                              "tsize\x00"
                              "3000\x00",
                              26);
        QTest::newRow("ack for oack")
            << "tftp-ack-for-oack" << ack(0) << QList<QByteArray>{ack(2), ack(2)};
        QTest::newRow("drop ack 2") << "tftp-drop-ack=2" << oack << QList<QByteArray>{ack(2)};
        QTest::newRow("wrong block")
            << "tftp-wrong-block=2" << oack << QList<QByteArray>{ack(1), ack(1)};
        QTest::newRow("5-byte ack")
            << "tftp-ack5=2" << oack << QList<QByteArray>{ack(2) + '\0', ack(2) + '\0'};
        QTest::newRow("dup ack") << "tftp-dup-ack=2" << oack
                                 << QList<QByteArray>{ack(2), ack(2), ack(2), ack(2)};
    }

    void transferFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, requestAnswer);
        QFETCH(QList<QByteArray>, block2Answers);
        Faults f;
        QVERIFY(f.add(fault.toStdString()));
        TftpReceiver r(f);
        const QByteArray img = image(3000);
        const auto req = bytes(request(true, img.size()));
        QCOMPARE(qbytes(r.onRequest(req.data(), req.size()).at(0).bytes), requestAnswer);
        const auto b1 = bytes(dataPacket(1, img.left(1024)));
        QCOMPARE(qbytes(r.onData(b1.data(), b1.size()).at(0).bytes), ack(1));
        const auto b2 = bytes(dataPacket(2, img.mid(1024, 1024)));
        QList<QByteArray> got;
        for (int i = 0; i < 2; ++i) {
            for (const TftpPacket& p : r.onData(b2.data(), b2.size()))
                got << qbytes(p.bytes);
        }
        QCOMPARE(got, block2Answers);
        QCOMPARE(qbytes(r.image()), img.left(2048));
    }

    void foreignAckAndErrorAndSilence()
    {
        const QByteArray img = image(3000);
        const auto req = bytes(request(true, img.size()));
        const auto b1 = bytes(dataPacket(1, img.left(1024)));
        {
            Faults f;
            f.add("tftp-foreign=1");
            TftpReceiver r(f);
            r.onRequest(req.data(), req.size());
            const auto out = r.onData(b1.data(), b1.size());
            QCOMPARE(out.at(0).from, TftpPacket::From::ForeignPort);
        }
        {
            Faults f;
            f.add("tftp-error=1");
            TftpReceiver r(f);
            r.onRequest(req.data(), req.size());
            QCOMPARE(r.onData(b1.data(), b1.size()).at(0).bytes.at(1), std::uint8_t(5));
        }
        {
            Faults f;
            f.add("tftp-error");
            TftpReceiver r(f);
            QCOMPARE(r.onRequest(req.data(), req.size()).at(0).bytes.at(1), std::uint8_t(5));
        }
        {
            Faults f;
            f.add("tftp-silent");
            TftpReceiver r(f);
            QVERIFY(r.onRequest(req.data(), req.size()).empty());
        }
    }
};

QTEST_GUILESS_MAIN(ModSimTest)
#include "tst_modsim.moc"
