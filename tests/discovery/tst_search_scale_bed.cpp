// A broadcast over a network of hundreds of modules, through the real main window in the test
// bed: every module listed once, in few updates of the list, and a module flooding the
// requester with invalid replies cannot keep the search going longer than each send's reading
// budget.
#include "BedWindows.h"
#include "TestBed.h"

#include "app/AppWindows.h"
#include "common/ScriptedPrompter.h"
#include "discovery/DeviceRegistry.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

using namespace tvx;
using tvx::test::BedModule;
using tvx::test::ScriptedPrompter;
using tvx::test::TestBed;

class TestSearchScaleBed : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void broadcastListsEveryModule();
    void floodOfInvalidRepliesEndsWithinBudget();

private:
    qint64 broadcast();
    QSet<QString> listed() const;
    QSet<QString> expected() const;

    TestBed bed_;
    ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> form_;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestSearchScaleBed::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    QCOMPARE(bed_.modules().size(), 401);
    form_ = test::showBedWindows(prompter_, tables_);
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY(form_->networkReady());
}

void TestSearchScaleBed::init()
{
    prompter_.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 10000);
}

void TestSearchScaleBed::cleanupTestCase()
{
    if (form_) {
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(10));
        form_.reset();
    }
}

// Clicks "Broadcast"; the click returns when the progress window has closed.
qint64 TestSearchScaleBed::broadcast()
{
    QTreeWidget* tree = form_->funcTree();
    const auto items =
        tree->findItems(QStringLiteral("Broadcast"), Qt::MatchExactly | Qt::MatchRecursive);
    if (items.isEmpty())
        return -1;
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(items.first()).center());
    return timer.elapsed();
}

// "MAC IP" of each row; a MAC listed twice would show as fewer entries than rows.
QSet<QString> TestSearchScaleBed::listed() const
{
    QSet<QString> out;
    for (int i = 0; i < form_->visibleDeviceCount(); ++i)
        out.insert(form_->deviceCell(i, CellMac) + QLatin1Char(' ') + form_->deviceCell(i, CellIp));
    return out;
}

QSet<QString> TestSearchScaleBed::expected() const
{
    QSet<QString> out;
    for (const BedModule& m : bed_.modules())
        out.insert(m.mac + QLatin1Char(' ') + m.ip);
    return out;
}

void TestSearchScaleBed::broadcastListsEveryModule()
{
    QSignalSpy inserted(&form_->devices(), &QAbstractItemModel::rowsInserted);
    const qint64 ms = broadcast();
    QCOMPARE(prompter_.count(), 0);
    QCOMPARE(form_->deviceCount(), 401);
    QCOMPARE(listed(), expected());
    // Replies that come in a burst reach the list together, not one list
    // update each: at most one hand-over per 50 ms while they come.
    QVERIFY2(inserted.size() <= 40, qPrintable(QString::number(inserted.size())));
    // Both sends end with their 2 s wait, not with the budget.
    QVERIFY2(ms >= 4800 && ms < 8000, qPrintable(QString::number(ms)));
}

void TestSearchScaleBed::floodOfInvalidRepliesEndsWithinBudget()
{
    QVERIFY(bed_.setFault(QStringLiteral("flood"), QStringLiteral("disc-flood=20")));
    const qint64 ms = broadcast();
    QVERIFY(bed_.clearFaults(QStringLiteral("flood")));

    // The flood goes on for 30 s after each request, far past any 2 s wait: each send's
    // reading ends 6 s after the send instead. One local address: the 1 s pause and two sends.
    constexpr qint64 bound = 1000 + 2 * 6000;
    QVERIFY2(ms >= bound - 300 && ms < bound + 1500,
             qPrintable(QStringLiteral("%1 ms, bound %2 ms").arg(ms).arg(bound)));
    QCOMPARE(prompter_.count(), 0);
    // The flood hides no one: the modules and the flooder's own valid reply are listed.
    QCOMPARE(listed(), expected());
}

QTEST_MAIN(TestSearchScaleBed)
#include "tst_search_scale_bed.moc"
