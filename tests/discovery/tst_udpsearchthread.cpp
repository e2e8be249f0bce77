// The search worker on its own, where it sends nothing (or to loopback only):
// a host without a local address, a search that was cancelled before it
// began, an unexpected error inside the run, and a search that waits for
// another one's source ports. Searches on a network run in the test bed.
#include "discovery/Udpsearchthread.h"
#include "handover/WorkerOwner.h"

#include "common/ScriptedPrompter.h"
#include "handover/ProgressView.h"
#include "platform/NamespaceLock.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <QElapsedTimer>
#include <QtTest>

#include <stdexcept>

using namespace tvx;
using tvx::test::ScriptedPrompter;

namespace {

// Records what the worker did to its progress window, in order.
class RecordingView : public QObject, public ProgressView {
public:
    QStringList calls;
    void setMessage(const QString& text) override { calls << QStringLiteral("msg:") + text; }
    void setPosition(int position) override { calls << QStringLiteral("pos:%1").arg(position); }
    void stepIt() override { calls << QStringLiteral("step"); }
    void stepBy(int delta) override { calls << QStringLiteral("by:%1").arg(delta); }
    void closeProgress() override { calls << QStringLiteral("close"); }
};

} // namespace

class TestUdpSearchThread : public QObject {
    Q_OBJECT
private slots:
    void init();
    void noLocalAddress_data();
    void noLocalAddress();
    void cancelledRunStillClearsBusy();
    void exceptionLeavesWindowOpen();
    void searchByIpWithoutTarget();
    void waitsForAnotherSearchsPorts();

private:
    void startWorker(SearchHooks hooks, const char* target, bool broadcast,
                     SearchTimings timings = {});
    SearchHooks hooks(std::function<int(LocalAddressTable*)> refresh);

    std::shared_ptr<RunToken> token_;
    RecordingView view_;
    ScriptedPrompter prompter_;
    QStringList log_;
    int ended_ = 0;
    int added_ = 0;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestUdpSearchThread::init()
{
    token_ = std::make_shared<RunToken>();
    view_.calls.clear();
    prompter_.clear();
    log_.clear();
    ended_ = 0;
    added_ = 0;
}

SearchHooks TestUdpSearchThread::hooks(std::function<int(LocalAddressTable*)> refresh)
{
    SearchHooks h;
    h.refreshLocalAddresses = std::move(refresh);
    h.addDevices = [this](const std::vector<DiscoveryRecord>& records) {
        added_ += static_cast<int>(records.size());
    };
    h.deviceCount = [this] { return added_; };
    h.searchEnded = [this] { ++ended_; };
    return h;
}

void TestUdpSearchThread::startWorker(SearchHooks hooks, const char* target, bool broadcast,
                                      SearchTimings timings)
{
    WorkerLink link(
        token_, &view_, &prompter_, [this](const QString& line) { log_ << line; }, 100);
    WorkerThread::start(std::make_unique<UDPsearchThread>(std::move(link), &view_, std::move(hooks),
                                                          target, broadcast, timings));
}

void TestUdpSearchThread::noLocalAddress_data()
{
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::newRow("broadcast") << true << QString() << "Broadcast search...";
    QTest::newRow("by IP") << false << "203.0.113.9"
                           << "search 203.0.113.9...";
}

// The search sends nothing and ends after its pause, without a message; the
// bar is not positioned, only filled at the end.
void TestUdpSearchThread::noLocalAddress()
{
    QFETCH(bool, broadcast);
    QFETCH(QString, target);
    QFETCH(QString, message);

    const QByteArray targetText = target.toLatin1();
    int refreshes = 0;
    QElapsedTimer timer;
    timer.start();
    startWorker(hooks([&refreshes](LocalAddressTable* table) {
                    ++refreshes;
                    *table = LocalAddressTable{};
                    return -1;
                }),
                targetText.isEmpty() ? nullptr : targetText.constData(), broadcast);
    QTRY_COMPARE_WITH_TIMEOUT(ended_, 1, 5000);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    const qint64 elapsed = timer.elapsed();

    QVERIFY2(elapsed >= 950 && elapsed < 1800, qPrintable(QString::number(elapsed)));
    QCOMPARE(refreshes, 1);
    QCOMPARE(view_.calls,
             (QStringList{QStringLiteral("msg:") + message, QStringLiteral("by:1000"),
                          QStringLiteral("close")}));
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(log_.isEmpty());
    QCOMPARE(added_, 0);
}

// After a cancel the window is detached: no effect reaches it, yet the busy
// flag is still cleared when the worker ends.
void TestUdpSearchThread::cancelledRunStillClearsBusy()
{
    SearchTimings quick;
    quick.pauseMs = 50;
    token_->requestStop();
    token_->detach();
    startWorker(hooks([](LocalAddressTable* table) {
                    *table = LocalAddressTable{};
                    return 0;
                }),
                nullptr, true, quick);
    QTRY_COMPARE(ended_, 1);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QCoreApplication::processEvents();
    QVERIFY(view_.calls.isEmpty());
    QVERIFY(!token_->finished);
}

void TestUdpSearchThread::exceptionLeavesWindowOpen()
{
    startWorker(hooks([](LocalAddressTable*) -> int {
                    throw std::runtime_error("address table vanished");
                }),
                nullptr, true);
    QTRY_COMPARE(ended_, 1);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QCoreApplication::processEvents();

    QCOMPARE(log_, QStringList{QStringLiteral("UDPsearchThread Exception")});
    QCOMPARE(prompter_.count(), 1);
    QCOMPARE(prompter_.shown().first().kind, QStringLiteral("exception"));
    QCOMPARE(prompter_.texts().first(), QStringLiteral("address table vanished"));
    // The progress window stays until the user closes it.
    QVERIFY(!view_.calls.contains(QStringLiteral("close")));
    QVERIFY(!token_->finished);
}

void TestUdpSearchThread::searchByIpWithoutTarget()
{
    UDPsearchThread worker(WorkerLink(token_, &view_, &prompter_, {}, 100), &view_, {}, nullptr,
                           false);
    // Checked before anything is sent, so no socket is needed.
    QCOMPARE(worker.probeInterface(-1, false, "", 0, 0), -1);
    QCOMPARE(worker.probeInterface(-1, false, nullptr, 0, 0), -1);
    QCoreApplication::processEvents();
    QVERIFY(view_.calls.isEmpty());
    QCOMPARE(prompter_.count(), 0);
}

// Two searches on one host would bind the same source ports: the second waits
// until the first has let them go, says so, and never waits past its bound.
void TestUdpSearchThread::waitsForAnotherSearchsPorts()
{
    SearchTimings quick;
    quick.pauseMs = 10;
    quick.waitMs = 20;
    quick.sendsPerAddress = 1;
    const auto loopbackOnly = [](LocalAddressTable* table) {
        *table = LocalAddressTable{};
        table->count = 1;
        table->addresses[0] = htonl(INADDR_LOOPBACK);
        table->ifIndexes[0] = if_nametoindex("lo");
        return 0;
    };
    const QString waiting = QStringLiteral("msg:waiting for another search on this host...");

    NamespaceLock other("tarvanix-discovery-source-ports");
    QCOMPARE(other.acquire(0, {}, {}), NamespaceLock::Result::Taken);
    QTimer::singleShot(400, [&other] { other.release(); });
    QElapsedTimer timer;
    timer.start();
    quick.portWaitMs = 10000;
    startWorker(hooks(loopbackOnly), "127.0.0.1", false, quick);
    QTRY_COMPARE_WITH_TIMEOUT(ended_, 1, 5000);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(prompter_.count(), 0);
    const qsizetype waited = view_.calls.indexOf(waiting);
    QVERIFY2(waited > 0, qPrintable(view_.calls.join(QLatin1Char(' '))));
    QCOMPARE(view_.calls.value(waited + 1), QStringLiteral("msg:search 127.0.0.1..."));
    QVERIFY(log_.isEmpty());

    // A holder that never lets go costs the bound, and the search goes on.
    init();
    QCOMPARE(other.acquire(0, {}, {}), NamespaceLock::Result::Taken);
    quick.portWaitMs = 300;
    timer.restart();
    startWorker(hooks(loopbackOnly), "127.0.0.1", false, quick);
    QTRY_COMPARE_WITH_TIMEOUT(ended_, 1, 5000);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(view_.calls.contains(waiting));
    QCOMPARE(log_.size(), 1);
    QVERIFY2(log_.first().startsWith(QStringLiteral("another search still held")),
             qPrintable(log_.first()));
}

QTEST_GUILESS_MAIN(TestUdpSearchThread)
#include "tst_udpsearchthread.moc"
