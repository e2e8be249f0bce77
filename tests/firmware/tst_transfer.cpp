// The block transfer against a scripted module on 127.0.0.1: the request,
// the blocks as they arrive, and every way an answer can be wrong.
#include "ScriptedTftpPeer.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareRecognition.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/TftpWrite.h"
#include "firmware/UpgradeCodes.h"
#include "handover/ProgressView.h"
#include "handover/WorkerLink.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>

using namespace tvx;
using tvx::test::ScriptedTftpPeer;
using Reply = ScriptedTftpPeer::Reply;

namespace {

// The progress window as the transfer drives it: range 2..1000, step 10.
class RecordingView : public QObject, public ProgressView {
public:
    void setMessage(const QString& text) override
    {
        message = text;
        ++messages;
    }
    void setPosition(int p) override { position = std::clamp(p, 2, 1000); }
    void stepIt() override { stepBy(10); }
    void stepBy(int delta) override { position = std::clamp(position + delta, 2, 1000); }
    void closeProgress() override {}
    void reset()
    {
        message.clear();
        messages = 0;
        position = 10;
    }

    QString message;
    int messages = 0;
    int position = 10;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 1024) & 0xFF);
    return bytes;
}

TransferTimings quick()
{
    TransferTimings t;
    t.requestPauseMs = 0;
    t.answerWaitMs = 150;
    return t;
}

struct Outcome {
    int request = 1;
    int data = 1;
};

} // namespace

class TestFirmwareTransfer : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<RunToken> token_;
    RecordingView view_;
    QStringList log_;

    WorkerLink link()
    {
        return WorkerLink(
            token_, &view_, nullptr, [this](const QString& l) { log_ << l; }, 1000);
    }

    QString writeFile(const QByteArray& bytes)
    {
        const QString path = dir_.filePath(QStringLiteral("fw.aff"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }

    Outcome run(ScriptedTftpPeer& peer, const QByteArray& bytes, TransferTimings t = quick())
    {
        Outcome out;
        const QString path = writeFile(bytes);
        FirmwareImage image;
        if (!image.open(QFile::encodeName(path).constData()))
            return out;
        WorkerLink l = link();
        FirmwareTransfer transfer(l, t);
        peer.start();
        out.request = transfer.requestWrite(htonl(INADDR_LOOPBACK), peer.serverPort(), "fw.aff",
                                            image.size());
        if (out.request == 0)
            out.data = transfer.sendImage(image.fd(), image.size());
        peer.finish();
        QCoreApplication::processEvents();
        return out;
    }

private slots:
    void init()
    {
        token_ = std::make_shared<RunToken>();
        view_.reset();
        log_.clear();
    }

    void blocksArriveInOrderAtTheAnsweringPort_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("payloads");
        QTest::newRow("3000") << 3000 << QList<int>{1024, 1024, 952};
        QTest::newRow("2048: empty last packet") << 2048 << QList<int>{1024, 1024, 0};
        QTest::newRow("1024") << 1024 << QList<int>{1024, 0};
        QTest::newRow("1 byte") << 1 << QList<int>{1};
        QTest::newRow("1500") << 1500 << QList<int>{1024, 476};
    }
    void blocksArriveInOrderAtTheAnsweringPort()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, payloads);
        ScriptedTftpPeer peer;
        const QByteArray bytes = pattern(size);
        const Outcome out = run(peer, bytes);
        QCOMPARE(out.request, 0);
        QCOMPARE(out.data, 0);

        uint8_t expected[kRequestRoom];
        const size_t n = buildWriteRequest("fw.aff", size, expected);
        QCOMPARE(peer.requests(),
                 QList<QByteArray>{QByteArray(reinterpret_cast<const char*>(expected), int(n))});
        const QList<QByteArray> data = peer.dataPackets();
        QCOMPARE(data.size(), payloads.size());
        for (int i = 0; i < data.size(); ++i) {
            QCOMPARE(data[i].left(4), ScriptedTftpPeer::ack(uint16_t(i + 1)).replace(1, 1, "\x03"));
            QCOMPARE(data[i].size() - 4, payloads[i]);
        }
        QCOMPARE(peer.image(), bytes);
        // Data went to the port that answered, never to the request port.
        QCOMPARE(peer.strayOnServerPort(), 0);
    }

    void barAndLabelEndWhereEveryStepWouldHaveLeftThem()
    {
        // 3000 bytes: two whole blocks, so the bar starts at 1000 / 2 and
        // steps once per packet.
        {
            ScriptedTftpPeer peer;
            QCOMPARE(run(peer, pattern(3000)).data, 0);
            QCOMPARE(view_.message, QStringLiteral("send packet 3"));
            QCOMPARE(view_.position, 500 + 3 * 10);
        }
        // Shorter than one block: counted as one block, the bar starts full.
        init();
        {
            ScriptedTftpPeer peer;
            QCOMPARE(run(peer, pattern(700)).data, 0);
            QCOMPARE(view_.position, 1000);
            QCOMPARE(view_.message, QStringLiteral("send packet 1"));
        }
        // 1 MiB: more whole blocks than bar units, so it starts at 10; the
        // label updates are paced, yet the last one shown is the last packet.
        init();
        {
            ScriptedTftpPeer peer;
            QCOMPARE(run(peer, pattern(1 << 20)).data, 0);
            QCOMPARE(view_.message, QStringLiteral("send packet 1025"));
            QCOMPARE(view_.position, 1000);
            QVERIFY2(view_.messages < 500, qPrintable(QString::number(view_.messages)));
        }
    }

    void requestNeedsTheOptionAcknowledgement()
    {
        ScriptedTftpPeer peer;
        peer.answerRequest(QByteArray("\x00\x04\x00\x00", 4));
        const Outcome out = run(peer, pattern(3000));
        QCOMPARE(out.request, int(UpgradeRequestFailed));
        QCOMPARE(peer.requests().size(), 1);
        QVERIFY(peer.dataPackets().isEmpty());
    }

    void silentModuleGetsTenRequests()
    {
        ScriptedTftpPeer peer;
        peer.answerRequest({});
        TransferTimings t = quick();
        t.answerWaitMs = 40;
        QCOMPARE(run(peer, pattern(100), t).request, int(UpgradeRequestFailed));
        QCOMPARE(peer.requests().size(), 10);
        // Each send moved the bar by 50 from where the request found it.
        QCOMPARE(view_.position, 10 + 10 * 50);
        QCOMPARE(view_.message, QStringLiteral("send request..."));
    }

    void answerFromAnotherHostIsNotTheModules()
    {
        ScriptedTftpPeer peer;
        peer.answerFromOtherAddress();
        TransferTimings t = quick();
        t.answerWaitMs = 40;
        QCOMPARE(run(peer, pattern(100), t).request, int(UpgradeRequestFailed));
        QCOMPARE(peer.requests().size(), 10);
        QVERIFY(peer.dataPackets().isEmpty());
    }

    void wrongAcknowledgementFailsTheTransfer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("previous block number") << ScriptedTftpPeer::ack(1);
        QTest::newRow("five bytes") << ScriptedTftpPeer::ack(2) + '\0';
        QTest::newRow("error packet") << QByteArray("\x00\x05\x00\x03"
                                                    "disk full\0",
                                                    14);
        QTest::newRow("option ack") << QByteArray("\x00\x06", 2);
    }
    void wrongAcknowledgementFailsTheTransfer()
    {
        QFETCH(QByteArray, answer);
        ScriptedTftpPeer peer;
        peer.onData([answer](uint16_t block, int) {
            return QList<Reply>{{block == 2 ? answer : ScriptedTftpPeer::ack(block)}};
        });
        const Outcome out = run(peer, pattern(3000));
        QCOMPARE(out.request, 0);
        QCOMPARE(out.data, int(UpgradeBlockFailed));
        // Block 2 went once; block 3 never.
        QCOMPARE(peer.dataPackets().size(), 2);
    }

    void lostAcknowledgementsAreResentUpToThreeTimes_data()
    {
        QTest::addColumn<int>("lost");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("sends");
        QTest::newRow("one lost, repaired") << 1 << 0 << 4;
        QTest::newRow("two lost, repaired") << 2 << 0 << 5;
        QTest::newRow("three lost, failed") << 3 << int(UpgradeBlockFailed) << 4;
    }
    void lostAcknowledgementsAreResentUpToThreeTimes()
    {
        QFETCH(int, lost);
        QFETCH(int, result);
        QFETCH(int, sends);
        ScriptedTftpPeer peer;
        peer.onData([lost](uint16_t block, int attempt) {
            if (block == 2 && attempt < lost)
                return QList<Reply>{};
            return QList<Reply>{{ScriptedTftpPeer::ack(block)}};
        });
        const QByteArray bytes = pattern(3000);
        QCOMPARE(run(peer, bytes).data, result);
        QCOMPARE(peer.dataPackets().size(), sends);
        if (result == 0)
            QCOMPARE(peer.image(), bytes);
    }

    void acknowledgementFromAnotherPortOfTheModuleCounts()
    {
        // The module's own address acknowledging from a port other than the
        // one that answered the request: each block goes once.
        ScriptedTftpPeer always;
        always.onData([](uint16_t block, int) {
            return QList<Reply>{{ScriptedTftpPeer::ack(block), true}};
        });
        const QByteArray bytes = pattern(1500);
        QCOMPARE(run(always, bytes).data, 0);
        QCOMPARE(always.dataPackets().size(), 2);
        QCOMPARE(always.image(), bytes);
    }

    void stopEndsTheTransferBeforeItsNextSend()
    {
        ScriptedTftpPeer peer;
        auto token = token_;
        peer.onData([token](uint16_t block, int) {
            if (block == 2)
                token->requestStop();
            return QList<Reply>{{ScriptedTftpPeer::ack(block)}};
        });
        QCOMPARE(run(peer, pattern(5000)).data, int(UpgradeStopped));
        QCOMPARE(peer.dataPackets().size(), 2);
    }

    void fileThatStopsReadingNeverPassesAsSuccess()
    {
        // The file shrinks under the transfer: what the request announced can
        // no longer be sent, and the module must not take a short image.
        ScriptedTftpPeer peer;
        const QString path = dir_.filePath(QStringLiteral("fw.aff"));
        peer.onData([path](uint16_t block, int) {
            if (block == 1)
                QFile::resize(path, 1500);
            return QList<Reply>{{ScriptedTftpPeer::ack(block)}};
        });
        QCOMPARE(run(peer, pattern(4000)).data, int(UpgradeReadFailed));
        QCOMPARE(peer.dataPackets().size(), 1);
        QVERIFY(log_.join('\n').contains(QStringLiteral("read file failed")));
    }

    // The file was checked when it was chosen; swapped for a FIFO since, it
    // would have held the upgrade (and the program, past SIGTERM) in its open.
    void fileSwappedForAFifoIsRefusedAtOnce()
    {
        const QString path = writeFile(QByteArray("\x55\xAA\xF1V2.00", 8) + pattern(3000));
        QCOMPARE(recogniseFirmwareFile(QFile::encodeName(path)), FirmwareCheck::Accepted);
        QVERIFY(QFile::remove(path));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        FirmwareImage image;
        QVERIFY(!image.open(QFile::encodeName(path).constData()));
        QCOMPARE(recogniseFirmwareFile(QFile::encodeName(path)), FirmwareCheck::Missing);
        QFile::remove(path);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareTransfer)
#include "tst_transfer.moc"
