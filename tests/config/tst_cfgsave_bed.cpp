// "Save to Module" from a configuration window opened the way a user opens
// it (a search, a double-click), against simulated modules in the test bed:
// the module restarts with what was saved and a new search finds it at its
// new address; values the window never shows go back untouched; a refused
// line, a refused login and a cancel each end as the user is told, with the
// window closed and nothing left pinned in the host's tables; an untouched
// save sends back what was read, a retyped address goes out as typed, and a
// module that answers in place of the one picked gets no window.
#include "BedWindows.h"
#include "TestBed.h"

#include "app/AppWindows.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "config/Cfgfrm.h"
#include "handover/FilePicker.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"
#include "protocol/Passworddlg.h"
#include "protocol/Tcpprgfrm.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

using namespace tvx;
using tvx::test::ScriptedPrompter;
using tvx::test::TestBed;

namespace {

const QString kConfirm = QStringLiteral("Are you sure to save settings to device?");
const QString kRebootQuestion = QStringLiteral(
    "Save to Module OK! \r\nDevice rebooting now! \r\nBroadcast search to refresh table?");

// Answers each file dialog with one path, as a user picking it would.
class OnePathPicker : public FilePicker {
public:
    explicit OnePathPicker(QString path) : path_(std::move(path)) {}
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return path_;
    }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return path_;
    }

private:
    QString path_;
};

} // namespace

class TestCfgSaveBed : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void saveNewAddressThenBroadcastFindsIt();
    void cancelClosesSilentlyLeavingNothingPinned();
    void refusedLineReportsAndSendsNoSei();
    void refusedLoginReports();
    void emptyNewPasswordRemovesIt();
    void untouchedSaveSendsWhatWasRead();
    void retypedAddressGoesOutAsTyped_data();
    void retypedAddressGoesOutAsTyped();
    void modulesSharingAnAddressAreEachReachedByMac();
    void saveGoesToItsWindowsModuleAfterAnotherSearch();
    void backupOfOneModuleLoadedIntoAnotherWritesTheOther();

private:
    void broadcast();
    int rowOf(const QString& mac) const;
    // Double-clicks the module's row and returns the window that opens.
    TcfgForm* openModule(const QString& name, const QString& password = {});
    // Clicks "Save to Module" and waits until the window is gone.
    void saveAndWaitClosed(TcfgForm* form);
    QList<QByteArray> writeLines(const QString& module);

    TestBed bed_;
    ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> form_;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestCfgSaveBed::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    form_ = test::showBedWindows(prompter_, tables_);
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY(form_->networkReady());
}

void TestCfgSaveBed::init()
{
    prompter_.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 10000);
}

void TestCfgSaveBed::cleanupTestCase()
{
    if (form_) {
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(10));
        form_.reset();
    }
}

void TestCfgSaveBed::broadcast()
{
    QTreeWidget* tree = form_->funcTree();
    const auto items =
        tree->findItems(QStringLiteral("Broadcast"), Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!items.isEmpty());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(items.first()).center());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 20000);
}

int TestCfgSaveBed::rowOf(const QString& mac) const
{
    for (int i = 0; i < form_->deviceCount(); ++i) {
        if (form_->deviceCell(i, CellMac) == mac)
            return i;
    }
    return -1;
}

TcfgForm* TestCfgSaveBed::openModule(const QString& name, const QString& password)
{
    const auto module = bed_.module(name);
    if (rowOf(module.mac) < 0)
        broadcast();
    const int row = rowOf(module.mac);
    if (row < 0)
        return nullptr;
    form_->selectDeviceRow(row);
    std::unique_ptr<QTimer> answer;
    if (!password.isEmpty()) {
        answer = test::whenModal([password](QWidget* modal) {
            auto* dialog = qobject_cast<TPasswordDlg*>(modal);
            if (!dialog)
                return false;
            dialog->findChild<QLineEdit*>(QStringLiteral("Password"))->setText(password);
            dialog->accept();
            return true;
        });
    }
    form_->deviceListViewDblClick();
    TcfgForm* opened = nullptr;
    const bool found = QTest::qWaitFor(
        [&] {
            for (TcfgForm* f : form_->findChildren<TcfgForm*>()) {
                if (f->isVisible() && QString::fromLatin1(f->record().lanMac) == module.mac)
                    opened = f;
            }
            return opened != nullptr;
        },
        15000);
    if (!found) {
        qWarning() << "no window for" << name << "rows" << form_->deviceCount() << "prompts"
                   << prompter_.texts() << "windows" << form_->findChildren<TcfgForm*>().size();
        for (TcfgForm* f : form_->findChildren<TcfgForm*>())
            qWarning() << "window for" << QString::fromLatin1(f->record().lanMac);
    }
    return found ? opened : nullptr;
}

void TestCfgSaveBed::saveAndWaitClosed(TcfgForm* form)
{
    QPointer<TcfgForm> watched = form;
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("saveModuleBtn")),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 30000);
}

// The command lines the module received over its last TCP connection.
QList<QByteArray> TestCfgSaveBed::writeLines(const QString& module)
{
    const QList<int> tcp = bed_.exchanges(module, QStringLiteral("tcp"));
    if (tcp.isEmpty())
        return {};
    QList<QByteArray> lines;
    for (const QByteArray& line : bed_.received(module, tcp.last()).split('\n')) {
        QByteArray l = line;
        while (l.startsWith('\0'))
            l.remove(0, 1);
        if (!l.isEmpty())
            lines << l + '\n';
    }
    return lines;
}

void TestCfgSaveBed::saveNewAddressThenBroadcastFindsIt()
{
    const auto m1 = bed_.module(QStringLiteral("m1"));
    // Settings this window has no item for. (The simulated module refuses
    // any flow control but its three, so "DTR/DSR" is checked on the
    // collected record in tst_cfgform instead.)
    QVERIFY(bed_.setSetting(m1.name, QStringLiteral("baud"), QStringLiteral("14400")));
    QVERIFY(bed_.setSetting(m1.name, QStringLiteral("opmode"), QStringLiteral("UD")));
    TcfgForm* f = openModule(m1.name);
    QVERIFY(f);
    QCOMPARE(form_->isDeviceOpen(m1.mac.toLatin1().constData()), -1);
    f->findChild<QLineEdit*>(QStringLiteral("Edit_devName"))->setText(QStringLiteral("Saved-1"));
    f->addressControl(0)->setAddress(0xC000021Fu); // 192.0.2.31
    QVERIFY(bed_.clearTranscript(m1.name));

    prompter_.clear();
    prompter_.queueAnswer(true); // the confirmation
    prompter_.queueAnswer(true); // the search afterwards
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    QCOMPARE(prompter_.shown().last().kind, QStringLiteral("finishedQuestion"));
    QCOMPARE(form_->isDeviceOpen(m1.mac.toLatin1().constData()), 0);

    // Written to where the module was read, ending with "$SEI".
    const QList<QByteArray> lines = writeLines(m1.name);
    QVERIFY(lines.contains("$SBNSaved-1\r\n"));
    QVERIFY(lines.contains("$SLI192.0.2.31\r\n"));
    QVERIFY(lines.contains("$SSBA14400\r\n"));
    QVERIFY(lines.contains("$SSMAUD\r\n"));
    QVERIFY(!lines.contains("$SSVPA4000\r\n"));
    QCOMPARE(lines.last(), QByteArray("$SEI\r\n"));
    QCOMPARE(bed_.exchanges(m1.name, QStringLiteral("tcp")).size(), 1);

    // Yes started a search; once the module is back, a new one finds it
    // at its new address with its new name.
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 20000);
    QVERIFY(bed_.waitUntilUp(m1.name, 15000));
    QCOMPARE(bed_.setting(m1.name, QStringLiteral("lanIp")), QStringLiteral("192.0.2.31"));
    QCOMPARE(bed_.setting(m1.name, QStringLiteral("opmode")), QStringLiteral("UD"));
    QCOMPARE(bed_.setting(m1.name, QStringLiteral("baud")), QStringLiteral("14400"));
    broadcast();
    const int row = rowOf(m1.mac);
    QVERIFY(row >= 0);
    QCOMPARE(form_->deviceCell(row, CellIp), QStringLiteral("192.0.2.31"));
    QCOMPARE(form_->deviceCell(row, CellDeviceName), QStringLiteral("Saved-1"));
}

void TestCfgSaveBed::cancelClosesSilentlyLeavingNothingPinned()
{
    // Outside the host's subnets: reached through a pinned entry and route.
    const auto m3 = bed_.module(QStringLiteral("m3"));
    QVERIFY(m3.outside);
    TcfgForm* f = openModule(m3.name);
    QVERIFY(f);
    QVERIFY(bed_.setFault(m3.name, QStringLiteral("delay@SSBA=6000")));
    TtcpPrgForm* progress = form_->windows().tcpPrgForm;
    // Cancel once the write is under way.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [progress] {
        auto* label = progress->findChild<QLabel*>(QStringLiteral("prgMsg"));
        if (progress->isVisible() && label && label->text().startsWith("set information...")) {
            QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("cancelBtn")),
                              Qt::LeftButton);
        }
    });
    poll.start(20);
    prompter_.clear();
    saveAndWaitClosed(f);
    poll.stop();
    QCOMPARE(prompter_.texts(), QStringList{kConfirm});
    QCOMPARE(form_->isDeviceOpen(m3.mac.toLatin1().constData()), 0);
    // The worker ends by itself at its next check, and takes its entries away.
    workers_.stop();
    QVERIFY(workers_.waitFor(std::chrono::seconds(15)));
    QVERIFY(!writeLines(m3.name).contains("$SEI\r\n"));
    QVERIFY(TestBed::permanentNeighbours().isEmpty());
    QVERIFY(TestBed::staticRoutes().isEmpty());
    QVERIFY(bed_.clearFaults(m3.name));
    QCOMPARE(prompter_.count(), 1);
}

void TestCfgSaveBed::refusedLineReportsAndSendsNoSei()
{
    const auto m4 = bed_.module(QStringLiteral("m4"));
    TcfgForm* f = openModule(m4.name);
    QVERIFY(f);
    QVERIFY(bed_.setFault(m4.name, QStringLiteral("noecho@SSFA")));
    QVERIFY(bed_.clearTranscript(m4.name));
    prompter_.clear();
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, "set device information failed"}));
    QCOMPARE(prompter_.shown().last().caption, QStringLiteral("Error"));
    const QList<QByteArray> lines = writeLines(m4.name);
    QVERIFY(!lines.isEmpty());
    QVERIFY(lines.last().startsWith("$SSFA"));
    QVERIFY(!lines.contains("$SEI\r\n"));
    QVERIFY(bed_.clearFaults(m4.name));
    QCOMPARE(form_->isDeviceOpen(m4.mac.toLatin1().constData()), 0);
}

void TestCfgSaveBed::refusedLoginReports()
{
    const auto m5 = bed_.module(QStringLiteral("m5"));
    TcfgForm* f = openModule(m5.name);
    QVERIFY(f);
    QVERIFY(bed_.setFault(m5.name, QStringLiteral("refuselogin")));
    prompter_.clear();
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, "login to device failed"}));
    QVERIFY(bed_.clearFaults(m5.name));
}

void TestCfgSaveBed::emptyNewPasswordRemovesIt()
{
    const auto m2 = bed_.module(QStringLiteral("m2"));
    QVERIFY(!m2.password.isEmpty());
    TcfgForm* f = openModule(m2.name, m2.password);
    QVERIFY(f);
    // Both password edits empty and alike: accepted, sent with the save.
    QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("Save_Btn")), Qt::LeftButton);
    QVERIFY(bed_.clearTranscript(m2.name));
    prompter_.clear();
    prompter_.queueAnswer(true);
    prompter_.queueAnswer(false); // no search afterwards
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    const QList<QByteArray> lines = writeLines(m2.name);
    QCOMPARE(lines.first(), QByteArray("$LOG") + m2.password.toLatin1() + "\r\n");
    QVERIFY(lines.contains("$SBP\r\n"));
    QVERIFY(bed_.waitUntilUp(m2.name, 15000));
    QCOMPARE(bed_.setting(m2.name, QStringLiteral("password")), QString());
    QVERIFY(!form_->searchBusy());
}

void TestCfgSaveBed::untouchedSaveSendsWhatWasRead()
{
    // Longer than the edits let the user type, and choices the module left
    // empty.
    const auto m6 = bed_.module(QStringLiteral("m6"));
    const QString name = QStringLiteral("Nineteen-characters");
    QCOMPARE(name.size(), 19);
    QVERIFY(bed_.setSetting(m6.name, QStringLiteral("devName"), name));
    QVERIFY(bed_.setSetting(m6.name, QStringLiteral("tcpslport"), QStringLiteral("123456")));
    for (const char* field : {"baud", "fc", "serialIf"})
        QVERIFY(bed_.setSetting(m6.name, QLatin1String(field), QString()));
    TcfgForm* f = openModule(m6.name);
    QVERIFY(f);
    QCOMPARE(f->findChild<QLineEdit*>(QStringLiteral("Edit_devName"))->text(), name);
    QVERIFY(bed_.clearTranscript(m6.name));
    prompter_.clear();
    prompter_.queueAnswer(true);
    prompter_.queueAnswer(false);
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    const QList<QByteArray> lines = writeLines(m6.name);
    QVERIFY(lines.contains("$SBNNineteen-characters\r\n"));
    QVERIFY(lines.contains("$SSVPA123456\r\n"));
    // The boxes' defaults, never an empty argument.
    QVERIFY(lines.contains("$SSBA115200\r\n"));
    QVERIFY(lines.contains("$SSFANONE\r\n"));
    QVERIFY(lines.contains("$SSIARS-232\r\n"));
    QCOMPARE(lines.last(), QByteArray("$SEI\r\n"));
    QVERIFY(bed_.waitUntilUp(m6.name, 15000));
    QCOMPARE(bed_.setting(m6.name, QStringLiteral("devName")), name);
}

// Columns: the field the user clicks into, whether its text is selected
// (else the cursor goes to its end), whether the address is pasted rather
// than typed.
void TestCfgSaveBed::retypedAddressGoesOutAsTyped_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("selectAll");
    QTest::addColumn<bool>("paste");
    QTest::newRow("typed, first field all selected") << 0 << true << false;
    QTest::newRow("typed, third field, cursor at its end") << 2 << false << false;
    QTest::newRow("pasted into the second field") << 1 << false << true;
}

void TestCfgSaveBed::retypedAddressGoesOutAsTyped()
{
    QFETCH(int, field);
    QFETCH(bool, selectAll);
    QFETCH(bool, paste);
    // The module's own address, typed over itself: 192.0.2.16.
    const auto m6 = bed_.module(QStringLiteral("m6"));
    QVERIFY(bed_.waitUntilUp(m6.name, 15000));
    TcfgForm* f = openModule(m6.name);
    QVERIFY(f);
    f->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f));
    QLineEdit* clicked = f->addressControl(0)->field(field);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QTRY_COMPARE(QApplication::focusWidget(), clicked);
    if (selectAll)
        clicked->selectAll();
    else
        clicked->end(false);
    if (paste) {
        QApplication::clipboard()->setText(m6.ip);
        if (QApplication::clipboard()->text() != m6.ip) {
            f->close();
            QSKIP("this platform plugin keeps no clipboard");
        }
        QTest::keySequence(clicked, QKeySequence::Paste);
    } else {
        for (const QChar c : m6.ip)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    QVERIFY(bed_.clearTranscript(m6.name));
    prompter_.clear();
    prompter_.queueAnswer(true);
    prompter_.queueAnswer(false);
    saveAndWaitClosed(f);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    QVERIFY(writeLines(m6.name).contains("$SLI" + m6.ip.toLatin1() + "\r\n"));
    QVERIFY(bed_.waitUntilUp(m6.name, 15000));
    QCOMPARE(bed_.setting(m6.name, QStringLiteral("lanIp")), m6.ip);
}

void TestCfgSaveBed::modulesSharingAnAddressAreEachReachedByMac()
{
    // Two modules on one address: each is reached through its pinned entry,
    // so each row opens its own module's window and no other module is
    // contacted.
    const auto twin1 = bed_.module(QStringLiteral("twin1"));
    const auto twin2 = bed_.module(QStringLiteral("twin2"));
    QCOMPARE(twin1.ip, twin2.ip);
    broadcast();
    for (const auto& twin : {twin1, twin2}) {
        const auto& other = twin.name == twin1.name ? twin2 : twin1;
        QVERIFY(bed_.clearTranscript(twin1.name));
        QVERIFY(bed_.clearTranscript(twin2.name));
        const int row = rowOf(twin.mac);
        QVERIFY(row >= 0);
        QCOMPARE(form_->deviceCell(row, CellIp), twin.ip);
        form_->selectDeviceRow(row);
        prompter_.clear();
        // Returns once the read has ended and its outcome is shown.
        form_->deviceListViewDblClick();
        TcfgForm* window = nullptr;
        for (TcfgForm* f : form_->findChildren<TcfgForm*>()) {
            if (f->isVisible())
                window = f;
        }
        QVERIFY2(window, qPrintable(prompter_.texts().join(QLatin1Char('|'))));
        QCOMPARE(prompter_.count(), 0);
        QCOMPARE(QString::fromLatin1(window->record().lanMac), twin.mac);
        QCOMPARE(bed_.exchanges(twin.name, QStringLiteral("tcp")).size(), 1);
        QCOMPARE(bed_.exchanges(other.name, QStringLiteral("tcp")).size(), 0);
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(TestBed::permanentNeighbours().isEmpty(), 5000);
    }
}

// Windows of twins outlive the list: after a search by IP has listed another
// module only, a save from the second twin's window still reaches that twin,
// and neither other twin takes a line.
void TestCfgSaveBed::saveGoesToItsWindowsModuleAfterAnotherSearch()
{
    const auto twin1 = bed_.module(QStringLiteral("twin1"));
    const auto twin2 = bed_.module(QStringLiteral("twin2"));
    const auto twin3 = bed_.module(QStringLiteral("twin3"));
    const auto other = bed_.module(QStringLiteral("m4"));
    broadcast();
    QPointer<TcfgForm> first = openModule(twin1.name);
    QPointer<TcfgForm> second = openModule(twin2.name);
    QVERIFY(first && second);
    form_->startSearch(false, other.ip.toLatin1().constData());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 20000);
    QCOMPARE(form_->deviceCount(), 1);

    for (const auto& twin : {twin1, twin2, twin3})
        QVERIFY(bed_.clearTranscript(twin.name));
    second->findChild<QLineEdit*>(QStringLiteral("Edit_devName"))
        ->setText(QStringLiteral("Twin-Two"));
    prompter_.clear();
    prompter_.queueAnswer(true);
    prompter_.queueAnswer(false);
    saveAndWaitClosed(second);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    QVERIFY(writeLines(twin2.name).contains("$SBNTwin-Two\r\n"));
    QCOMPARE(bed_.exchanges(twin1.name, QStringLiteral("tcp")).size(), 0);
    QCOMPARE(bed_.exchanges(twin3.name, QStringLiteral("tcp")).size(), 0);
    first->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(bed_.waitUntilUp(twin2.name));
    QTRY_VERIFY_WITH_TIMEOUT(TestBed::permanentNeighbours().isEmpty(), 5000);
}

// Cloning: a file saved from m4's window and loaded into m5's is written to
// m5 (at the address m5 was read from), with m4's settings but m5's own
// address, and m4 is not contacted.
void TestCfgSaveBed::backupOfOneModuleLoadedIntoAnotherWritesTheOther()
{
    const auto m4 = bed_.module(QStringLiteral("m4"));
    const auto m5 = bed_.module(QStringLiteral("m5"));
    QVERIFY(bed_.setSetting(m4.name, QStringLiteral("baud"), QStringLiteral("38400")));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    OnePathPicker picker(dir.filePath(QStringLiteral("m4.json")));

    TcfgForm* source = openModule(m4.name);
    QVERIFY(source);
    source->setFilePicker(&picker);
    QTest::mouseClick(source->findChild<QPushButton*>(QStringLiteral("saveFileBtn")),
                      Qt::LeftButton);
    QVERIFY2(QFile::exists(dir.filePath(QStringLiteral("m4.json"))),
             qPrintable(prompter_.texts().join(u'|')));
    QPointer<TcfgForm> closing = source;
    QTest::mouseClick(source->findChild<QPushButton*>(QStringLiteral("abortBtn")), Qt::LeftButton);
    QTRY_VERIFY(closing.isNull());

    TcfgForm* target = openModule(m5.name);
    QVERIFY(target);
    target->setFilePicker(&picker);
    const uint32_t m5Address = target->addressControl(0)->address();
    QVERIFY(bed_.clearTranscript(m4.name));
    QVERIFY(bed_.clearTranscript(m5.name));
    QTest::mouseClick(target->findChild<QPushButton*>(QStringLiteral("loadFileBtn")),
                      Qt::LeftButton);
    QCOMPARE(target->findChild<QLineEdit*>(QStringLiteral("Edit_devName"))->text(), m4.deviceName);
    QCOMPARE(target->addressControl(0)->address(), m5Address);

    prompter_.clear();
    prompter_.queueAnswer(true); // the confirmation
    prompter_.queueAnswer(false); // no search afterwards
    saveAndWaitClosed(target);
    QCOMPARE(prompter_.texts(), (QStringList{kConfirm, kRebootQuestion}));
    const QList<QByteArray> lines = writeLines(m5.name);
    QVERIFY(lines.contains("$SBN" + m4.deviceName.toLatin1() + "\r\n"));
    QVERIFY(lines.contains("$SSBA38400\r\n"));
    QVERIFY(lines.contains("$SLI" + m5.ip.toLatin1() + "\r\n"));
    QVERIFY(lines.contains("$SSMATS\r\n"));
    QCOMPARE(bed_.exchanges(m4.name, QStringLiteral("tcp")).size(), 0);
    QVERIFY(bed_.waitUntilUp(m5.name));
    QCOMPARE(bed_.setting(m5.name, QStringLiteral("devName")), m4.deviceName);
    QCOMPARE(bed_.setting(m5.name, QStringLiteral("lanIp")), m5.ip);
}

QTEST_MAIN(TestCfgSaveBed)
#include "tst_cfgsave_bed.moc"
