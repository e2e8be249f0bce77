// The hand-over between workers and windows, through a small worker, the real
// WorkerLink, WorkerThread, WorkerOwner and a real progress window.
#include "TestWorker.h"
#include "common/ScriptedPrompter.h"
#include "handover/RunQueue.h"
#include "handover/WindowPrompter.h"
#include "handover/WorkerOwner.h"
#include "widgets/MessageBoxPrompter.h"
#include "widgets/ProgressForm.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <stdexcept>

using namespace tvx;
using tvx::test::ScriptedPrompter;
using tvx::test::TestWorker;
using namespace std::chrono_literals;

namespace {

// Records every effect as it is applied, with the thread it is applied on.
class RecordingView : public QObject, public ProgressView {
public:
    void setMessage(const QString& text) override { note("message " + text); }
    void setPosition(int position) override { note(QStringLiteral("position %1").arg(position)); }
    void stepIt() override { note(QStringLiteral("step")); }
    void stepBy(int delta) override { note(QStringLiteral("stepBy %1").arg(delta)); }
    void closeProgress() override { note(QStringLiteral("close")); }
    void note(const QString& what)
    {
        if (QThread::currentThread() != qApp->thread())
            offUiThread = true;
        applied << what;
    }
    QStringList applied;
    bool offUiThread = false;
};

ProgressFormLayout layout()
{
    ProgressFormLayout l;
    l.caption = QStringLiteral("test progress");
    l.size = QSize(300, 100);
    l.labelPos = QPoint(8, 8);
    l.barRect = QRect(8, 30, 284, 16);
    l.buttonRect = QRect(110, 60, 75, 25);
    return l;
}

// Without running the UI thread's events, so that a worker's effects stay
// queued: what a window sees when its worker ends before its modal wait.
bool waitForWorkersUnapplied(int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (WorkerThread::liveCount() > 0 && t.elapsed() < ms)
        QThread::msleep(2);
    return WorkerThread::liveCount() == 0;
}

// What a stuck worker makes the owner do in a test: not end the test.
struct Stuck {
    int running;
};

} // namespace

class TestHandover : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void effectsArriveInOrderOnTheUiThread();
    void progressWindowFollowsTheWorker();
    void workerEndingBeforeTheWaitStillEndsIt_data();
    void workerEndingBeforeTheWaitStillEndsIt();
    void cancelledRunCannotTouchTheNextOne();
    void stopRequestToAFinishedWorkerIsHarmless();
    void workerWaitsForItsMessageBox();
    void detachedRunGetsNoDialogs();
    void exceptionInAWorkerIsLoggedAndShown();
    void ownerJoinsAWorkerWaitingOnTheUiThread();
    void stoppedWorkerIsWaitedForWithinTheBound();
    void effectsForAGoneWindowAreDropped();
    void runQueueKeepsItsBoundAndOrder();
    void windowPromptsOutliveTheirPrompter();

private:
    bool waitForWorkers() { return workers_.waitFor(5s); }
    // The log of a test: lines handed to the UI thread while the test lives.
    WorkerLink::LogFn logInto(QStringList& lines)
    {
        return [&lines, alive = QPointer<const QObject>(this)](const QString& line) {
            WorkerLink::postToUiThread(alive, [&lines, line] { lines << line; });
        };
    }

    WorkerOwner workers_;
};

void TestHandover::cleanup()
{
    QVERIFY(waitForWorkers());
    QCoreApplication::processEvents();
}

void TestHandover::effectsArriveInOrderOnTheUiThread()
{
    RecordingView view;
    ScriptedPrompter prompter;
    auto token = std::make_shared<RunToken>();
    WorkerLink link(
        token, &view, &prompter,
        [&view, alive = QPointer<const QObject>(&view)](const QString& line) {
            WorkerLink::postToUiThread(alive, [&view, line] { view.note("log " + line); });
        },
        100);
    WorkerThread::start(std::make_unique<TestWorker>(link, [](TestWorker& w) {
        auto& h = w.hand();
        for (int i = 0; i < 50; ++i) {
            h.setMessage(QStringLiteral("m%1").arg(i));
            h.setPosition(i);
            h.appendLog(QStringLiteral("l%1").arg(i));
        }
        h.stepIt();
        h.stepBy(7);
        h.storeResult(3);
        h.finish();
    }));
    QVERIFY(waitForWorkers());
    QTRY_VERIFY(token->finished);

    QStringList expected;
    for (int i = 0; i < 50; ++i)
        expected << QStringLiteral("message m%1").arg(i) << QStringLiteral("position %1").arg(i)
                 << QStringLiteral("log l%1").arg(i);
    expected << "step"
             << "stepBy 7"
             << "close";
    QCOMPARE(view.applied, expected);
    QVERIFY(!view.offUiThread);
    QCOMPARE(token->result, 3);
}

void TestHandover::progressWindowFollowsTheWorker()
{
    ProgressForm form(layout(), nullptr);
    form.prepare();
    QCOMPARE(form.barPosition(), 20); // at 10, then one step of 10
    QCOMPARE(form.message(), QString());

    auto token = std::make_shared<RunToken>();
    std::atomic<bool> go{false};
    WorkerLink link(token, &form, nullptr, {}, form.barMaximum());
    WorkerThread::start(std::make_unique<TestWorker>(link, [&go](TestWorker& w) {
        while (!go)
            QThread::msleep(1);
        w.hand().setMessage(QStringLiteral("Searching 192.0.2.1"));
        w.hand().setPosition(60);
        w.hand().stepBy(1000); // clamped to the end
        w.hand().storeResult(0);
        w.hand().finish();
    }));
    QString seenMessage;
    int seenPosition = -1;
    QTimer::singleShot(0, [&] { go = true; });
    // Watch the controls while the modal wait runs.
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        seenMessage = form.findChild<QLabel*>(QStringLiteral("prgMsg"))->text();
        seenPosition = form.findChild<QProgressBar*>(QStringLiteral("prgBar"))->value();
    });
    watch.start(1);
    QTimer::singleShot(5000, &form, [&form] { form.reject(); }); // watchdog
    form.runModal(*token);
    watch.stop();
    QCOMPARE(token->result, 0);
    QVERIFY(token->finished);
    QCOMPARE(form.message(), QStringLiteral("Searching 192.0.2.1"));
    QCOMPARE(form.barPosition(), 100);
    QVERIFY(!form.isVisible());
    Q_UNUSED(seenMessage);
    Q_UNUSED(seenPosition);
}

void TestHandover::workerEndingBeforeTheWaitStillEndsIt_data()
{
    QTest::addColumn<bool>("eventsPumpedBeforeWait");
    QTest::newRow("close applied inside the wait") << false;
    QTest::newRow("close applied before the wait") << true;
}

void TestHandover::workerEndingBeforeTheWaitStillEndsIt()
{
    QFETCH(bool, eventsPumpedBeforeWait);
    ProgressForm form(layout(), nullptr);
    form.prepare();
    auto token = std::make_shared<RunToken>();
    WorkerThread::start(
        std::make_unique<TestWorker>(WorkerLink(token, &form, nullptr, {}, 100), [](TestWorker& w) {
            w.hand().storeResult(0);
            w.hand().finish();
        }));
    QVERIFY(waitForWorkersUnapplied());
    QVERIFY(!token->finished);
    if (eventsPumpedBeforeWait) {
        // What a message box shown before the wait would do.
        QCoreApplication::processEvents();
        QVERIFY(token->finished);
    }
    bool watchdogFired = false;
    QTimer::singleShot(3000, &form, [&] {
        watchdogFired = true;
        form.reject();
    });
    QElapsedTimer t;
    t.start();
    form.runModal(*token);
    QVERIFY(!watchdogFired);
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(token->result, 0);
    QVERIFY(!form.isVisible());
}

void TestHandover::cancelledRunCannotTouchTheNextOne()
{
    ProgressForm form(layout(), nullptr);
    QStringList logLines;
    const auto log = logInto(logLines);

    // Run 1: the user cancels while the worker is busy.
    auto first = std::make_shared<RunToken>();
    std::atomic<bool> releaseFirst{false};
    std::atomic<bool> firstSawStop{false};
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(first, &form, nullptr, log, 100), [&](TestWorker& w) {
            while (!releaseFirst)
                QThread::msleep(1);
            firstSawStop = w.stopping();
            w.hand().appendLog(QStringLiteral("first ends"));
            w.hand().setMessage(QStringLiteral("late text"));
            w.hand().setPosition(90);
            w.hand().storeResult(-3);
            w.hand().finish();
        }));
    form.prepare();
    QTimer::singleShot(
        20, [&form] { form.findChild<QPushButton*>(QStringLiteral("cancelBtn"))->click(); });
    form.runModal(*first);
    QCOMPARE(first->result, 1); // still 1: cancelled
    first->requestStop();
    first->detach();

    // Run 2 starts at once; run 1's worker ends during run 2's wait.
    auto second = std::make_shared<RunToken>();
    std::atomic<bool> releaseSecond{false};
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(second, &form, nullptr, log, 100), [&](TestWorker& w) {
            while (!releaseSecond)
                QThread::msleep(1);
            w.hand().setMessage(QStringLiteral("second"));
            w.hand().storeResult(0);
            w.hand().finish();
        }));
    form.prepare();
    bool openAfterFirstEnded = false;
    QString textAfterFirstEnded;
    int stage = 0;
    QTimer driver;
    connect(&driver, &QTimer::timeout, [&] {
        if (stage == 0) {
            releaseFirst = true;
            stage = 1;
        } else if (stage == 1 && WorkerThread::liveCount() == 1
                   && logLines.contains(QStringLiteral("first ends"))) {
            // Run 1's late effects have all been handed over by now.
            openAfterFirstEnded = form.isVisible();
            textAfterFirstEnded = form.message();
            releaseSecond = true;
            stage = 2;
        }
    });
    driver.start(5);
    QTimer::singleShot(5000, &form, [&form] { form.reject(); }); // watchdog
    form.runModal(*second);
    driver.stop();

    QVERIFY(firstSawStop);
    QCOMPARE(stage, 2);
    QVERIFY(openAfterFirstEnded);
    QCOMPARE(textAfterFirstEnded, QString());
    QCOMPARE(second->result, 0);
    QCOMPARE(first->result, 1);
    QVERIFY(!first->finished);
    QCOMPARE(form.message(), QStringLiteral("second"));
    QVERIFY(form.barPosition() != 90);
    QCOMPARE(logLines, QStringList{QStringLiteral("first ends")}); // log lines are kept
}

void TestHandover::stopRequestToAFinishedWorkerIsHarmless()
{
    RecordingView view;
    auto token = std::make_shared<RunToken>();
    WorkerThread::start(
        std::make_unique<TestWorker>(WorkerLink(token, &view, nullptr, {}, 100), [](TestWorker& w) {
            w.hand().storeResult(0);
            w.hand().finish();
        }));
    QVERIFY(waitForWorkers());
    QTRY_VERIFY(token->finished);
    token->requestStop();
    token->detach();
    WorkerThread::stopAll();
    QCoreApplication::processEvents();
    QCOMPARE(token->result, 0);
    QCOMPARE(view.applied, QStringList{QStringLiteral("close")});
    QCOMPARE(WorkerThread::liveCount(), 0);
}

void TestHandover::workerWaitsForItsMessageBox()
{
    MessageBoxPrompter prompter;
    auto token = std::make_shared<RunToken>();
    std::atomic<bool> returned{false};
    QStringList order;
    const auto log = logInto(order);
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(token, nullptr, &prompter, log, 100), [&](TestWorker& w) {
            w.hand().appendLog(QStringLiteral("before"));
            w.hand().showError(QStringLiteral("connect failed"));
            returned = true;
            w.hand().appendLog(QStringLiteral("after"));
        }));
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool returnedWhileShown = true;
    int ticksShown = 0;
    // The box runs its own modal loop: it is answered from a timer.
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (++ticksShown < 5) // let the worker run on if it were not blocked
            return;
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        returnedWhileShown = returned;
        order << QStringLiteral("box answered");
        answerer.stop();
        box->button(QMessageBox::Ok)->click();
    });
    answerer.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
    QVERIFY(waitForWorkers());
    QTRY_COMPARE(order.size(), 3);
    QVERIFY(!returnedWhileShown);
    QCOMPARE(caption, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("connect failed"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(order, QStringList({"before", "box answered", "after"}));
}

void TestHandover::detachedRunGetsNoDialogs()
{
    ScriptedPrompter prompter;
    prompter.queueAnswer(true);
    auto token = std::make_shared<RunToken>();
    token->requestStop();
    token->detach();
    std::atomic<int> answer{-1};
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(token, nullptr, &prompter, {}, 100), [&](TestWorker& w) {
            w.hand().showError(QStringLiteral("late error"));
            answer = w.hand().askFinished(QStringLiteral("search again?"), false) ? 1 : 0;
        }));
    QVERIFY(waitForWorkers());
    QCoreApplication::processEvents();
    QCOMPARE(answer.load(), 0);
    QCOMPARE(prompter.count(), 0);
}

void TestHandover::exceptionInAWorkerIsLoggedAndShown()
{
    ScriptedPrompter prompter;
    QStringList logLines;
    const auto log = logInto(logLines);
    auto token = std::make_shared<RunToken>();
    std::atomic<bool> after{false};
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(token, nullptr, &prompter, log, 100),
        [](TestWorker&) { throw std::runtime_error("'12x' is not a valid integer value"); },
        [&after] { after = true; }));
    QVERIFY(waitForWorkers());
    QTRY_COMPARE(logLines.size(), 1);
    QCOMPARE(logLines.first(), QStringLiteral("testThread Exception"));
    QCOMPARE(prompter.count(), 1);
    QCOMPARE(prompter.shown().first().kind, QStringLiteral("exception"));
    QCOMPARE(prompter.shown().first().text, QStringLiteral("'12x' is not a valid integer value"));
    QVERIFY(after);

    // Something that is not a standard exception is caught as well.
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(token, nullptr, &prompter, log, 100), [](TestWorker&) { throw 42; }));
    QVERIFY(waitForWorkers());
    QTRY_COMPARE(logLines.size(), 2);
    QCOMPARE(logLines.at(1), QStringLiteral("testThread Exception"));
    QCOMPARE(prompter.count(), 2);
}

// On exit the owner waits on the UI thread for a worker that is itself
// waiting there: its call is still delivered (and skipped, the run being
// detached by the stop), so the worker goes on to its end.
void TestHandover::ownerJoinsAWorkerWaitingOnTheUiThread()
{
    ScriptedPrompter prompter;
    auto token = std::make_shared<RunToken>();
    std::atomic<bool> waiting{false};
    std::atomic<bool> callRan{false};
    std::atomic<bool> sawStop{false};
    QElapsedTimer t;
    {
        WorkerOwner owner(5s);
        WorkerThread::start(std::make_unique<TestWorker>(
            WorkerLink(token, nullptr, &prompter, {}, 100), [&](TestWorker& w) {
                waiting = true;
                w.hand().callAndWait([&callRan] { callRan = true; });
                sawStop = w.stopping();
            }));
        // The call stays queued: nothing here runs the UI thread's events.
        while (!waiting)
            QThread::msleep(1);
        QThread::msleep(20);
        t.start();
    }
    QVERIFY2(t.elapsed() < 2000, QByteArray::number(t.elapsed()));
    QVERIFY(sawStop);
    QVERIFY(!callRan);
    QVERIFY(token->detached());
}

void TestHandover::stoppedWorkerIsWaitedForWithinTheBound()
{
    std::atomic<bool> release{false};
    WorkerOwner owner(300ms, [](int running) { throw Stuck{running}; });
    WorkerThread::start(std::make_unique<TestWorker>(WorkerLink(), [&release](TestWorker&) {
        while (!release)
            QThread::msleep(1);
    }));
    QVERIFY(!owner.waitFor(50ms));
    QCOMPARE(owner.liveCount(), 1);
    owner.stop();
    QElapsedTimer t;
    t.start();
    int stuck = 0;
    try {
        owner.waitForAll();
    } catch (const Stuck& s) {
        stuck = s.running;
    }
    QCOMPARE(stuck, 1);
    QVERIFY2(t.elapsed() >= 250 && t.elapsed() < 2000, QByteArray::number(t.elapsed()));
    release = true;
    QVERIFY(owner.waitFor(5s));
    QCOMPARE(owner.liveCount(), 0);
}

void TestHandover::effectsForAGoneWindowAreDropped()
{
    // Writes what reaches it into a list that outlives it.
    class Sink : public QObject, public ProgressView {
    public:
        explicit Sink(QStringList& out) : out_(out) {}
        void setMessage(const QString& text) override { out_ << text; }
        void setPosition(int) override { out_ << QStringLiteral("position"); }
        void stepIt() override { out_ << QStringLiteral("step"); }
        void stepBy(int) override { out_ << QStringLiteral("step"); }
        void closeProgress() override { out_ << QStringLiteral("close"); }

    private:
        QStringList& out_;
    };
    QStringList applied;
    QStringList later;
    auto* view = new Sink(applied);
    auto* prompter = new ScriptedPrompter;
    auto token = std::make_shared<RunToken>();
    std::atomic<bool> go{false};
    std::atomic<bool> errorReturned{false};
    WorkerThread::start(std::make_unique<TestWorker>(
        WorkerLink(token, view, prompter, {}, 100), [&](TestWorker& w) {
            w.hand().setMessage(QStringLiteral("before"));
            while (!go)
                QThread::msleep(1);
            w.hand().setMessage(QStringLiteral("after"));
            w.hand().post([&later] { later << QStringLiteral("effect"); });
            w.hand().storeResult(0);
            w.hand().finish();
            w.hand().showError(QStringLiteral("nobody to see it"));
            errorReturned = true;
        }));
    QTRY_COMPARE(applied, QStringList{QStringLiteral("before")});
    delete view;
    delete prompter;
    go = true;
    QVERIFY(waitForWorkers());
    QVERIFY(errorReturned);
    // Only what reached the view while it lived; the run's token, which the
    // window shares, still gets what the worker stored.
    QCOMPARE(applied, QStringList{QStringLiteral("before")});
    QVERIFY(later.isEmpty());
    QCOMPARE(token->result, 0);
    QVERIFY(token->finished);
}

void TestHandover::runQueueKeepsItsBoundAndOrder()
{
    // Seven runs, three at once: each ends when the test ends it, one at
    // once inside its own start, and a stop lets the running ones finish.
    RunQueue queue(3);
    QList<int> started;
    QList<std::function<void()>> ends(7);
    int mostAtOnce = 0;
    bool idle = false;
    for (int i = 0; i < 7; ++i) {
        queue.add([&, i](std::function<void()> ended) {
            started << i;
            mostAtOnce = std::max(mostAtOnce, queue.running());
            if (i == 3)
                return ended();
            ends[i] = std::move(ended);
        });
    }
    queue.setOnIdle([&] { idle = true; });
    queue.start();
    QCOMPARE(started, (QList<int>{0, 1, 2}));
    ends[1]();
    ends[1](); // a second call changes nothing
    QCOMPARE(queue.running(), 2);
    // The next run starts from the event loop, not inside `ended`.
    QCOMPARE(started.size(), 3);
    QTRY_COMPARE(started, (QList<int>{0, 1, 2, 3, 4}));
    QCOMPARE(queue.running(), 3);
    QCOMPARE(queue.waiting(), 2);
    queue.stop();
    QCOMPARE(queue.waiting(), 0);
    for (int i : {0, 2, 4})
        ends[i]();
    QTRY_VERIFY(idle);
    QCOMPARE(started, (QList<int>{0, 1, 2, 3, 4}));
    QCOMPARE(mostAtOnce, 3);
    QVERIFY(queue.idle());
}

// A window's prompts name its module and window for the one box and give the
// prompter back as it was; a window built without a prompter, or one that
// outlives it, shows nothing and is answered No.
void TestHandover::windowPromptsOutliveTheirPrompter()
{
    QObject window;
    window.setObjectName(QStringLiteral("cfgForm"));
    auto* target = new test::ScriptedPrompter;
    target->setSubject(QStringLiteral("main window's module"));
    WindowPrompter prompts(target, &window, QStringLiteral("Module 02:00:00:00:00:01"));
    QVERIFY(prompts.askConfirm(QStringLiteral("Save?")));
    QCOMPARE(target->count(), 1);
    QCOMPARE(target->shown()[0].subject, QStringLiteral("Module 02:00:00:00:00:01"));
    QCOMPARE(target->shown()[0].ownerName, QStringLiteral("cfgForm"));
    QCOMPARE(target->subject(), QStringLiteral("main window's module"));
    QVERIFY(!target->owner());

    delete target;
    QVERIFY(!prompts.askConfirm(QStringLiteral("Save?")));
    QVERIFY(!prompts.askFinished(QStringLiteral("Search again?")));
    prompts.showError(QStringLiteral("gone"));

    WindowPrompter none(nullptr, &window, QString());
    QVERIFY(!none.askConfirm(QStringLiteral("Save?")));
    none.showException(QStringLiteral("nobody"));
}

QTEST_MAIN(TestHandover)
#include "tst_handover.moc"
