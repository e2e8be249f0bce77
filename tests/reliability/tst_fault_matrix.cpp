// The fault matrix: every fault switch of the simulated module against every
// operation it can touch (search, read, write, reboot, upgrade), run from the
// real main window in the test bed. Each row states what the user sees (the
// message, a configuration window, whether the module is listed) and, after
// every row, that nothing is left behind: no pinned neighbour or host route,
// no descriptor of this process, no modal window, an event loop that answers.
// A cancel at each polling point shows nothing.
//
// One function per operation, so ctest runs them in beds of their own, in
// parallel. Rows the area tests already hold are repeated here only where the
// leak checks add something; docs/reliability.md lists the measured outcomes.
#include "BedWindows.h"
#include "TestBed.h"

#include "app/AppWindows.h"
#include "common/ScriptedPrompter.h"
#include "config/Cfgfrm.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>
#include <functional>

using namespace tvx;
using tvx::test::TestBed;

namespace {

const QString kConnect = QStringLiteral("connect to device failed");
const QString kLogin = QStringLiteral("login to device failed");
const QString kGetFailed = QStringLiteral("get device information failed");
const QString kSetFailed = QStringLiteral("set device information failed");
const QString kSendFailed = QStringLiteral("send command failed");
const QString kRequestFailed = QStringLiteral("serial read/write failed");
const QString kBlockFailed = QStringLiteral("serial read timeout");
const QString kConfirm = QStringLiteral("Are you sure to save settings to device?");
const QString kSaved = QStringLiteral(
    "Save to Module OK! \r\nDevice rebooting now! \r\nBroadcast search to refresh table?");
const QString kRebooted =
    QStringLiteral("Device rebooting now! \r\nBroadcast search to refresh table?");
const QString kUpgraded =
    QStringLiteral("Upgrade firmware OK! \r\nDevice will reboot 5 seconds later! \r\n"
                   "Broadcast search to refresh table?");
// Not messages: what else the user sees.
const QString kWindow = QStringLiteral("(configuration window)");
const QString kListed = QStringLiteral("(listed)");
const QString kNotListed = QStringLiteral("(not listed)");

// The process's open descriptors by what they name, sorted.
QStringList openDescriptors()
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        // The listing's own descriptor is gone by the time it is read.
        if (!target.isEmpty() && target != fds.absolutePath())
            out << target;
    }
    out.sort();
    return out;
}

// QVERIFY for the operations' lambdas, which return what the user saw.
#define VERIFY_OR_RETURN(condition)                                                                \
    do {                                                                                           \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__))     \
            return QStringList{};                                                                  \
    } while (false)

// Clicks Cancel of the modal progress window once its label begins with
// `prefix`. Stops looking when the returned guard is destroyed.
std::unique_ptr<QTimer> cancelWhen(const QString& prefix)
{
    auto timer = std::make_unique<QTimer>();
    if (prefix.isEmpty())
        return timer;
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [t = timer.get(), prefix] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* label = modal ? modal->findChild<QLabel*>(QStringLiteral("prgMsg")) : nullptr;
        if (!label || !label->text().startsWith(prefix))
            return;
        t->stop();
        modal->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->click();
    });
    timer->start(10);
    return timer;
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    TestBed bed_;
    test::ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> main_;
    QTemporaryDir dir_;
    QString image_;

    void table();
    DeviceRequest requestFor(const test::BedModule& m) const;
    void selectRow(const test::BedModule& m);
    QList<TcfgForm*> openWindows() const;
    void closeWindows();
    // Runs one row: `operation` does what the user does and returns what,
    // besides the messages, the user sees.
    void runRow(const std::function<QStringList(const test::BedModule&)>& operation);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void search_data();
    void search();
    void read_data();
    void read();
    void write_data();
    void write();
    void reboot_data();
    void reboot();
    void upgrade_data();
    void upgrade();

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestFaultMatrix::table()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("cancelAt"); // label prefix at which Cancel is pressed
    QTest::addColumn<QStringList>("outcome");
}

void TestFaultMatrix::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    main_ = test::showBedWindows(prompter_, tables_);
    QVERIFY(main_->networkReady());
    // Qt sets up two event descriptors for good with the first worker and
    // progress window; a reboot of address 0 (ends at once, shows nothing)
    // makes them exist before any row counts descriptors.
    DeviceRequest none;
    std::memset(&none, 0, sizeof none);
    std::strcpy(none.ipText, "0.0.0.0");
    main_->runReboot(none);
    QCOMPARE(prompter_.count(), 0);
    image_ = dir_.filePath(QStringLiteral("fw.aff"));
    QFile f(image_);
    const QByteArray bytes = TestBed::firmwareImage(QStringLiteral("V2.00"), 3000);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

void TestFaultMatrix::cleanupTestCase()
{
    if (main_) {
        closeWindows();
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(20));
    }
    main_.reset();
}

void TestFaultMatrix::init()
{
    QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 30000);
    closeWindows();
    prompter_.clear();
    main_->clearDevices();
    for (const auto& m : bed_.modules()) {
        QVERIFY(bed_.clearFaults(m.name));
        QVERIFY(bed_.waitUntilUp(m.name, 15000));
        QVERIFY(bed_.clearTranscript(m.name));
    }
}

DeviceRequest TestFaultMatrix::requestFor(const test::BedModule& m) const
{
    DeviceRequest r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
    std::strncpy(r.macText, m.mac.toLatin1().constData(), 17);
    std::strncpy(r.password, m.password.toLatin1().constData(), 8);
    std::strncpy(r.firmwarePath, QFile::encodeName(image_).constData(), 255);
    return r;
}

void TestFaultMatrix::selectRow(const test::BedModule& m)
{
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.macText, m.mac.toLatin1().constData(), 17);
    std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
    std::strncpy(r.passwordState, "None", 9);
    main_->addDevice(r);
    main_->selectDeviceRow(main_->visibleDeviceCount() - 1);
}

QList<TcfgForm*> TestFaultMatrix::openWindows() const
{
    QList<TcfgForm*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<TcfgForm*>(w); form && form->isVisible())
            out << form;
    }
    return out;
}

void TestFaultMatrix::closeWindows()
{
    for (TcfgForm* form : openWindows())
        form->close();
    QTRY_VERIFY(openWindows().isEmpty());
}

void TestFaultMatrix::runRow(const std::function<QStringList(const test::BedModule&)>& operation)
{
    QFETCH(QString, module);
    QFETCH(QStringList, faults);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, outcome);
    const test::BedModule m = bed_.module(module);
    QVERIFY(!m.name.isEmpty());
    // A module keeps a failed transfer's receiver busy: each row starts afresh.
    QVERIFY(bed_.restart(m.name));
    QVERIFY(bed_.waitUntilUp(m.name, 15000));
    const QStringList descriptorsBefore = openDescriptors();
    for (const QString& fault : faults)
        QVERIFY2(bed_.setFault(m.name, fault), qPrintable(fault));

    QStringList seen;
    {
        const auto cancel = cancelWhen(cancelAt);
        seen = operation(m);
    }
    // A cancelled worker ends by itself at its next polling point; only then
    // are its entries gone, and it must show nothing on the way.
    QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 20000);
    QCoreApplication::processEvents();
    QStringList messages = prompter_.texts();
    messages.removeAll(kConfirm);
    seen = messages + seen;
    qInfo().noquote() << "outcome:" << QTest::currentDataTag() << "->"
                      << seen.join(QStringLiteral(" | ")).replace(QLatin1String("\r\n"), " ");
    QCOMPARE(seen, outcome);

    QCOMPARE(TestBed::permanentNeighbours().size(), 0);
    QCOMPARE(TestBed::staticRoutes().size(), 0);
    closeWindows();
    // A worker's thread gives its event descriptor back a moment after it
    // counts as ended; on a loaded machine that moment can be seen.
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore, 5000);
    // The main window answers: no modal window left, the event loop runs, and
    // the function tree takes a click.
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(main_->isVisible() && main_->funcTree()->isEnabled() && !main_->searchBusy());
    bool ran = false;
    QTimer::singleShot(0, main_.get(), [&ran] { ran = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ran, 1000);
}

// Discovery switches on m1; m2 (outside the host's subnets) answers normally.
void TestFaultMatrix::search_data()
{
    table();
    const auto row = [](const char* tag, const QString& fault, const QStringList& outcome) {
        QTest::newRow(tag) << "m1" << QStringList{fault} << QString() << outcome;
    };
    row("disc-silent", "disc-silent", {kNotListed});
    row("disc-dup=3", "disc-dup=3", {kListed});
    row("disc-bcast", "disc-bcast", {kListed});
    row("disc-delay=1500", "disc-delay=1500", {kListed});
    row("disc-bad=start", "disc-bad=start", {kNotListed});
    row("disc-bad=end", "disc-bad=end", {kNotListed});
    row("disc-bad=type5", "disc-bad=type5", {kNotListed});
    row("disc-bad=type13", "disc-bad=type13", {kNotListed});
    row("disc-bad=mac", "disc-bad=mac", {kNotListed});
    row("disc-bad=fixed", "disc-bad=fixed", {kNotListed});
    row("disc-bad=overrun", "disc-bad=overrun", {kNotListed});
    row("disc-bad=noend", "disc-bad=noend", {kNotListed});
    row("disc-longname", "disc-longname", {kListed});
    row("disc-trailer", "disc-trailer", {kListed});
    // Cancel before the first reply can come: nothing shown, nothing listed.
    QTest::newRow("cancel while searching")
        << "m1" << QStringList{"disc-delay=3000"} << "Broadcast search" << QStringList{kNotListed};
}

void TestFaultMatrix::search()
{
    runRow([this](const test::BedModule& m) {
        main_->startSearch(true, nullptr);
        VERIFY_OR_RETURN(QTest::qWaitFor([this] { return !main_->searchBusy(); }, 20000));
        int rows = 0;
        for (int i = 0; i < main_->deviceCount(); ++i)
            rows += main_->deviceCell(i, CellMac) == m.mac;
        return QStringList{rows == 0       ? kNotListed
                               : rows == 1 ? kListed
                                           : QStringLiteral("(listed %1 times)").arg(rows)};
    });
}

// The command-protocol switches against the first command of each operation
// after the login, then the login itself and the connection.
void TestFaultMatrix::read_data()
{
    table();
    const auto row = [](const char* tag, const QString& fault, const QStringList& outcome) {
        QTest::newRow(tag) << "m1" << QStringList{fault} << QString() << outcome;
    };
    row("noreply@GBN", "noreply@GBN", {kGetFailed});
    row("delay@GBN=3000", "delay@GBN=3000", {kWindow});
    row("split@GBN", "split@GBN", {kGetFailed});
    row("long@GBN", "long@GBN", {kGetFailed});
    row("noecho@GBN", "noecho@GBN", {kGetFailed});
    row("noecho@GSVPA", "noecho@GSVPA", {kWindow});
    row("empty@GBN", "empty@GBN", {kGetFailed});
    row("noframe@GBN", "noframe@GBN", {kGetFailed});
    row("close@GBN", "close@GBN", {kGetFailed});
    row("noreply@LOG", "noreply@LOG", {kGetFailed});
    row("refuselogin", "refuselogin", {kLogin});
    row("noaccept", "noaccept", {kConnect});
    QTest::newRow("noaccept, outside")
        << "m2" << QStringList{"noaccept"} << QString() << QStringList{kConnect};
    QTest::newRow("cancel between commands")
        << "m1" << QStringList{"delay@GBD=3000"} << "get information...3/" << QStringList{};
    QTest::newRow("cancel before a pinned attempt")
        << "m2" << QStringList{"noaccept"} << "connect to device" << QStringList{};
}

void TestFaultMatrix::read()
{
    runRow([this](const test::BedModule& m) {
        selectRow(m);
        main_->deviceListViewDblClick();
        QStringList seen;
        for (TcfgForm* form : openWindows()) {
            if (QString::fromLatin1(form->record().lanMac) == m.mac)
                seen << kWindow;
        }
        return seen;
    });
}

void TestFaultMatrix::write_data()
{
    table();
    const auto row = [](const char* tag, const QString& fault, const QStringList& outcome) {
        QTest::newRow(tag) << "m1" << QStringList{fault} << QString() << outcome;
    };
    row("noreply@SBN", "noreply@SBN", {kSetFailed});
    row("delay@SBN=3000", "delay@SBN=3000", {kSaved});
    row("split@SBN", "split@SBN", {kSetFailed});
    row("long@SBN", "long@SBN", {kSetFailed});
    row("noecho@SBN", "noecho@SBN", {kSetFailed});
    row("empty@SBN", "empty@SBN", {kSetFailed});
    row("noframe@SBN", "noframe@SBN", {kSetFailed});
    row("close@SBN", "close@SBN", {kSetFailed});
    row("noreply@SEI", "noreply@SEI", {kSaved});
    row("close@SEI", "close@SEI", {kSaved});
    row("noreply@LOG", "noreply@LOG", {kSetFailed});
    row("refuselogin", "refuselogin", {kLogin});
    row("noaccept", "noaccept", {kConnect});
    QTest::newRow("cancel between lines")
        << "m2" << QStringList{"delay@SBD=3000"} << "set information...3/" << QStringList{};
}

void TestFaultMatrix::write()
{
    runRow([this](const test::BedModule& m) {
        // Opened as the user opens it, before the module turns faulty.
        QFETCH(QStringList, faults);
        VERIFY_OR_RETURN(bed_.clearFaults(m.name));
        selectRow(m);
        main_->deviceListViewDblClick();
        const QList<TcfgForm*> windows = openWindows();
        VERIFY_OR_RETURN(windows.size() == 1);
        for (const QString& fault : faults)
            VERIFY_OR_RETURN(bed_.setFault(m.name, fault));
        prompter_.clear();
        prompter_.queueAnswer(true); // save?
        prompter_.queueAnswer(false); // search afterwards?
        QPointer<TcfgForm> form = windows.first();
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("saveModuleBtn")),
                          Qt::LeftButton);
        VERIFY_OR_RETURN(
            QTest::qWaitFor([&] { return form.isNull() || !form->isVisible(); }, 30000));
        return QStringList{};
    });
}

void TestFaultMatrix::reboot_data()
{
    table();
    const auto row = [](const char* tag, const QString& fault, const QStringList& outcome) {
        QTest::newRow(tag) << "m1" << QStringList{fault} << QString() << outcome;
    };
    // Whatever the module answers to "$SER", or none, counts as rebooted.
    for (const char* fault : {"noreply@SER", "delay@SER=3000", "split@SER", "long@SER",
                              "noecho@SER", "empty@SER", "noframe@SER", "close@SER"})
        row(fault, fault, {kRebooted});
    row("noreply@LOG", "noreply@LOG", {kSendFailed});
    row("empty@LOG", "empty@LOG", {kSendFailed});
    row("noframe@LOG", "noframe@LOG", {kSendFailed});
    row("close@LOG", "close@LOG", {kSendFailed});
    row("noecho@LOG", "noecho@LOG", {kLogin});
    row("refuselogin", "refuselogin", {kLogin});
    row("noaccept", "noaccept", {kConnect});
    QTest::newRow("cancel before a pinned attempt")
        << "m2" << QStringList{"noaccept"} << "connect to device" << QStringList{};
}

void TestFaultMatrix::reboot()
{
    runRow([this](const test::BedModule& m) {
        prompter_.queueAnswer(false);
        main_->runReboot(requestFor(m));
        return QStringList{};
    });
}

void TestFaultMatrix::upgrade_data()
{
    table();
    const auto row = [](const char* tag, const QString& fault, const QStringList& outcome) {
        QTest::newRow(tag) << "m1" << QStringList{fault} << QString() << outcome;
    };
    for (const char* fault : {"noreply@SEF", "delay@SEF=3000", "split@SEF", "long@SEF",
                              "noecho@SEF", "empty@SEF", "noframe@SEF"})
        row(fault, fault, {kUpgraded});
    row("close@SEF", "close@SEF", {kRequestFailed});
    row("noreply@LOG", "noreply@LOG", {kSendFailed});
    row("refuselogin", "refuselogin", {kLogin});
    row("noaccept", "noaccept", {kConnect});
    row("tftp-silent", "tftp-silent", {kRequestFailed});
    row("tftp-ack-for-oack", "tftp-ack-for-oack", {kRequestFailed});
    row("tftp-error", "tftp-error", {kRequestFailed});
    row("tftp-error=2", "tftp-error=2", {kBlockFailed});
    row("tftp-drop-ack=2", "tftp-drop-ack=2", {kUpgraded});
    row("tftp-drop-ack=2:3", "tftp-drop-ack=2:3", {kBlockFailed});
    row("tftp-wrong-block=2", "tftp-wrong-block=2", {kBlockFailed});
    row("tftp-ack5=2", "tftp-ack5=2", {kBlockFailed});
    row("tftp-foreign=2", "tftp-foreign=2", {kUpgraded});
    row("tftp-dup-ack=2", "tftp-dup-ack=2", {kBlockFailed});
    QTest::newRow("cancel in the pause before the transfer")
        << "m2" << QStringList{} << "login to device" << QStringList{};
    QTest::newRow("cancel before the request")
        << "m2" << QStringList{} << "send request" << QStringList{};
    QTest::newRow("cancel while a block waits")
        << "m2" << QStringList{"tftp-drop-ack=2:3"} << "send packet 2" << QStringList{};
}

void TestFaultMatrix::upgrade()
{
    runRow([this](const test::BedModule& m) {
        prompter_.queueAnswer(false);
        main_->runUpgrade(requestFor(m));
        return QStringList{};
    });
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"
