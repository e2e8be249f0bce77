// Double-clicking a simulated module in the real main window, in the network
// test bed: what goes over the wire, what the user sees for each failure, and
// what is left in the host's neighbour and route tables afterwards.
#include "BedWindows.h"
#include "TestBed.h"
#include "app/AppWindows.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "config/Cfgfrm.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"
#include "protocol/Tcpprgfrm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

using namespace tvx;
using tvx::test::TestBed;

namespace {

const QByteArray kReadLines = "$GBN\r\n$GBC\r\n$GBD\r\n$GBV\r\n$GBI\r\n$GSMA\r\n$GSVPA\r\n"
                              "$GSCPA\r\n$GSCIA\r\n$GSCCA\r\n$GSBA\r\n$GSDA\r\n$GSFA\r\n"
                              "$GSIA\r\n$GSPCA\r\n$GSPLA\r\n$GSPTA\r\n$GSPSA\r\n$GLI\r\n"
                              "$GLN\r\n$GLG\r\n$GLC\r\n$GLA\r\n$GLM\r\n$GLS\r\n";

TcfgForm* configWindow(const QString& mac)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* form = qobject_cast<TcfgForm*>(w);
        if (form && form->isVisible() && QByteArray(form->record().lanMac) == mac.toLatin1())
            return form;
    }
    return nullptr;
}

} // namespace

class TestReadFlowBed : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void readsAModuleWithoutPassword();
    void readsWithThePromptedPassword();
    void promptCancelledOrEmptySendsNothing();
    void failuresShowTheirMessage_data();
    void failuresShowTheirMessage();
    void defaultsWhenTheClientSettingsLackTheirEcho();
    void outsideModuleIsReadThroughTheFallback();
    void cancelDuringTheFallbackLeavesNothing();
    void cancelWhileWaitingThenReadAgain();

private:
    void addRow(const test::BedModule& m, bool password);
    void doubleClick();
    QList<int> tcpExchanges(const QString& module) const { return bed_.exchanges(module, "tcp"); }
    void waitForWorkers() { QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 20000); }
    void expectCleanTables()
    {
        QCOMPARE(TestBed::permanentNeighbours().size(), 0);
        QCOMPARE(TestBed::staticRoutes().size(), 0);
    }

    TestBed bed_;
    test::ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> main_;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestReadFlowBed::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    main_ = test::showBedWindows(prompter_, tables_);
    QVERIFY(main_->networkReady());
}

void TestReadFlowBed::cleanupTestCase()
{
    workers_.stop();
    workers_.waitFor(std::chrono::seconds(20));
    main_.reset();
}

void TestReadFlowBed::init()
{
    waitForWorkers();
    prompter_.clear();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<TcfgForm*>(w)) {
            main_->markDeviceOpen(form->record().lanMac, false);
            form->hide();
            form->deleteLater();
        }
    }
    QCoreApplication::processEvents();
    for (const auto& m : bed_.modules()) {
        bed_.clearFaults(m.name);
        bed_.clearTranscript(m.name);
    }
    main_->clearDevices();
}

void TestReadFlowBed::addRow(const test::BedModule& m, bool password)
{
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.macText, m.mac.toLatin1().constData(), 17);
    std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
    std::strncpy(r.modelName, "TX-110", 19);
    std::strncpy(r.deviceName, m.deviceName.toLatin1().constData(), 19);
    std::strncpy(r.deviceMode, "normal", 9);
    std::strncpy(r.passwordState, password ? "Yes" : "None", 9);
    main_->addDevice(r);
    main_->selectDeviceRow(main_->visibleDeviceCount() - 1);
}

void TestReadFlowBed::doubleClick()
{
    QTreeView* list = main_->deviceList();
    const QModelIndex item = list->selectionModel()->selectedRows(2).value(0);
    QVERIFY(item.isValid());
    // Through the list's own signal, as a double-click on the row gives it.
    emit list->doubleClicked(item);
}

void TestReadFlowBed::readsAModuleWithoutPassword()
{
    const auto m1 = bed_.module("m1");
    addRow(m1, false);
    QElapsedTimer timer;
    timer.start();
    doubleClick();
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(prompter_.count() == 0, qPrintable(prompter_.texts().join('|')));
    TcfgForm* form = configWindow(m1.mac);
    QVERIFY(form);
    QCOMPARE(QString::fromLatin1(form->record().devName), m1.deviceName);
    QCOMPARE(QString::fromLatin1(form->record().lanIp), m1.ip);
    QCOMPARE(QByteArray(form->record().passwd), QByteArray());
    QVERIFY(main_->isDeviceOpen(m1.mac.toLatin1().constData()));
    qInfo("read of m1: %lld ms from the double-click to the open window, %lld ms beyond the "
          "fixed connect pause",
          elapsed, elapsed - 1000);
    QVERIFY2(elapsed < 1000 + 250, QByteArray::number(elapsed));

    const QList<int> ids = tcpExchanges("m1");
    QCOMPARE(ids.size(), 1);
    const QList<QByteArray> chunks = bed_.receivedChunks("m1", ids.first());
    QCOMPARE(chunks.first(), QByteArray("$LOG\r\n"));
    QCOMPARE(bed_.received("m1", ids.first()), "$LOG\r\n" + kReadLines);
    expectCleanTables();

    // A second double-click on the open module sends nothing.
    doubleClick();
    QCOMPARE(prompter_.texts(), QStringList{"already selected"});
    QCOMPARE(prompter_.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(tcpExchanges("m1").size(), 1);
}

void TestReadFlowBed::readsWithThePromptedPassword()
{
    const auto m2 = bed_.module("m2");
    QVERIFY(bed_.setSetting("m2", "password", "abc"));
    addRow(m2, true);
    for (const char* typed : {"xyz", "abc"}) {
        const auto answer = test::whenModal([typed](QWidget* modal) {
            if (modal->objectName() != QLatin1String("PasswordDlg"))
                return false;
            auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("Password"));
            QTest::keyClicks(edit, QString::fromLatin1(typed));
            QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("OKBtn")),
                              Qt::LeftButton);
            return true;
        });
        doubleClick();
    }
    // The wrong password first, then the right one.
    QCOMPARE(prompter_.texts(), QStringList{"login to device failed"});
    TcfgForm* form = configWindow(m2.mac);
    QVERIFY(form);
    QCOMPARE(QByteArray(form->record().passwd), QByteArray("abc"));
    const QList<int> ids = tcpExchanges("m2");
    QCOMPARE(ids.size(), 2);
    QCOMPARE(bed_.receivedChunks("m2", ids[0]).first(), QByteArray("$LOGxyz\r\n"));
    QCOMPARE(bed_.received("m2", ids[0]), QByteArray("$LOGxyz\r\n"));
    QCOMPARE(bed_.receivedChunks("m2", ids[1]).first(), QByteArray("$LOGabc\r\n"));
    QCOMPARE(bed_.receivedChunks("m2", ids[1]).first().size(), 9);
    QCOMPARE(bed_.received("m2", ids[1]), "$LOGabc\r\n" + kReadLines);
    bed_.setSetting("m2", "password", m2.password);
}

void TestReadFlowBed::promptCancelledOrEmptySendsNothing()
{
    const auto m2 = bed_.module("m2");
    addRow(m2, true);
    const auto answer = test::whenModal([](QWidget* modal) {
        if (modal->objectName() != QLatin1String("PasswordDlg"))
            return false;
        QTest::keyClicks(modal->findChild<QLineEdit*>(QStringLiteral("Password")), "abc");
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("CancelBtn")),
                          Qt::LeftButton);
        return true;
    });
    doubleClick();
    QCOMPARE(prompter_.count(), 0);

    const auto answer2 = test::whenModal([](QWidget* modal) {
        if (modal->objectName() != QLatin1String("PasswordDlg"))
            return false;
        // The edit was emptied before the prompt was shown again.
        if (!modal->findChild<QLineEdit*>(QStringLiteral("Password"))->text().isEmpty())
            return false;
        QTest::keyClick(modal, Qt::Key_Return);
        return true;
    });
    doubleClick();
    QCOMPARE(prompter_.texts(), QStringList{"Password can't be blank"});
    QCOMPARE(prompter_.shown().first().kind, QStringLiteral("error"));
    QCOMPARE(tcpExchanges("m2").size(), 0);
    QVERIFY(!configWindow(m2.mac));
}

void TestReadFlowBed::failuresShowTheirMessage_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("connections refused") << "noaccept"
                                         << "connect to device failed";
    QTest::newRow("login refused") << "refuselogin"
                                   << "login to device failed";
    QTest::newRow("login silent") << "noreply@LOG"
                                  << "get device information failed";
    QTest::newRow("echo missing") << "noecho@GLS"
                                  << "get device information failed";
    QTest::newRow("split reply") << "split@GBV"
                                 << "get device information failed";
    QTest::newRow("long reply") << "long@GSDA"
                                << "get device information failed";
    QTest::newRow("empty reply") << "empty@GBN"
                                 << "get device information failed";
    QTest::newRow("unframed reply") << "noframe@GLM"
                                    << "get device information failed";
    QTest::newRow("connection closed") << "close@GSPCA"
                                       << "get device information failed";
}

void TestReadFlowBed::failuresShowTheirMessage()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    const auto m1 = bed_.module("m1");
    QVERIFY(bed_.setFault("m1", fault));
    addRow(m1, false);
    doubleClick();
    QCOMPARE(prompter_.texts(), QStringList{message});
    QCOMPARE(prompter_.shown().first().caption, QStringLiteral("Error"));
    QVERIFY(!configWindow(m1.mac));
    QVERIFY(!main_->isDeviceOpen(m1.mac.toLatin1().constData()));
    expectCleanTables();
}

void TestReadFlowBed::defaultsWhenTheClientSettingsLackTheirEcho()
{
    const auto m5 = bed_.module("m5");
    for (const char* f : {"noecho@GSVPA", "noecho@GSCPA", "noecho@GSCIA", "noecho@GSCCA"})
        QVERIFY(bed_.setFault("m5", f));
    addRow(m5, false);
    doubleClick();
    QCOMPARE(prompter_.count(), 0);
    TcfgForm* form = configWindow(m5.mac);
    QVERIFY(form);
    QCOMPARE(QByteArray(form->record().sp0_tcpslport), QByteArray("4000"));
    QCOMPARE(QByteArray(form->record().sp0_tcpcrport), QByteArray("4000"));
    QCOMPARE(QByteArray(form->record().sp0_tcpcrip), QByteArray("0.0.0.0"));
    QCOMPARE(QByteArray(form->record().sp0_tcpcat), QByteArray("0"));
    QCOMPARE(QByteArray(form->record().sp0_opmode), QByteArray("TC"));
    const QList<int> ids = tcpExchanges("m5");
    QCOMPARE(bed_.received("m5", ids.last()), "$LOG\r\n" + kReadLines);
}

void TestReadFlowBed::outsideModuleIsReadThroughTheFallback()
{
    const auto m3 = bed_.module("m3");
    QVERIFY(m3.outside);
    // While the last reply is awaited, the pinned entry and the host route exist.
    QVERIFY(bed_.setFault("m3", "delay@GLS=800"));
    int pinnedWhileReading = -1;
    int routesWhileReading = -1;
    const auto answer = test::whenModal([&](QWidget* modal) {
        auto* label = modal->findChild<QLabel*>(QStringLiteral("prgMsg"));
        if (!label || label->text() != QLatin1String("get information...25/35"))
            return false;
        pinnedWhileReading = TestBed::permanentNeighbours().size();
        routesWhileReading = TestBed::staticRoutes().size();
        return true;
    });
    addRow(m3, false);
    doubleClick();
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(configWindow(m3.mac));
    QCOMPARE(pinnedWhileReading, 1);
    QCOMPARE(routesWhileReading, 1);
    expectCleanTables();

    // A module reached directly is read without either.
    const auto m4 = bed_.module("m4");
    QVERIFY(bed_.setFault("m4", "delay@GLS=800"));
    pinnedWhileReading = routesWhileReading = -1;
    const auto answer2 = test::whenModal([&](QWidget* modal) {
        auto* label = modal->findChild<QLabel*>(QStringLiteral("prgMsg"));
        if (!label || label->text() != QLatin1String("get information...25/35"))
            return false;
        pinnedWhileReading = TestBed::permanentNeighbours().size();
        routesWhileReading = TestBed::staticRoutes().size();
        return true;
    });
    addRow(m4, false);
    doubleClick();
    QVERIFY(configWindow(m4.mac));
    QCOMPARE(pinnedWhileReading, 0);
    QCOMPARE(routesWhileReading, 0);
    expectCleanTables();
}

void TestReadFlowBed::cancelDuringTheFallbackLeavesNothing()
{
    const auto m3 = bed_.module("m3");
    QVERIFY(bed_.setFault("m3", "noaccept"));
    const auto answer = test::whenModal([](QWidget* modal) {
        if (modal->objectName() != QLatin1String("tcpPrgForm") || TestBed::staticRoutes().isEmpty())
            return false;
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cancelBtn")),
                          Qt::LeftButton);
        return true;
    });
    addRow(m3, false);
    QElapsedTimer timer;
    timer.start();
    doubleClick();
    QVERIFY(timer.elapsed() < 6000);
    QCOMPARE(prompter_.count(), 0);
    waitForWorkers();
    QCoreApplication::processEvents();
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(!configWindow(m3.mac));
    expectCleanTables();
}

void TestReadFlowBed::cancelWhileWaitingThenReadAgain()
{
    const auto m1 = bed_.module("m1");
    QVERIFY(bed_.setFault("m1", "noreply@GBD"));
    const auto answer = test::whenModal([](QWidget* modal) {
        auto* label = modal->findChild<QLabel*>(QStringLiteral("prgMsg"));
        if (!label || label->text() != QLatin1String("get information...3/35"))
            return false;
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cancelBtn")),
                          Qt::LeftButton);
        return true;
    });
    addRow(m1, false);
    doubleClick();
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(WorkerThread::liveCount() > 0);

    // A new read at once: it waits for the cancelled one to let go of the
    // module, and neither its window nor its result is touched by it.
    bed_.clearFaults("m1");
    doubleClick();
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(configWindow(m1.mac));
    waitForWorkers();
    QCoreApplication::processEvents();
    QCOMPARE(prompter_.count(), 0);
    const QList<int> ids = tcpExchanges("m1");
    QCOMPARE(ids.size(), 2);
    // The cancelled run stopped before its next command.
    QCOMPARE(bed_.received("m1", ids[0]), QByteArray("$LOG\r\n$GBN\r\n$GBC\r\n$GBD\r\n$GBD\r\n"));
    expectCleanTables();
}

QTEST_MAIN(TestReadFlowBed)
#include "tst_ReadFlowBed.moc"
