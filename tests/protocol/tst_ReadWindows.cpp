// The password prompt and the read/write progress window as built, and the
// read worker's unexpected-error path through the real main window (no
// network: the error strikes before anything is sent).
#include "app/AppWindows.h"
#include "common/FakeNetTables.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "config/Cfgfrm.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "protocol/Passworddlg.h"
#include "protocol/Tcpprgfrm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <stdexcept>

using namespace tvx;

namespace {

// Host tables whose address listing fails with an exception once armed.
class ThrowingTables : public test::FakeNetTables {
public:
    std::atomic<bool> armed{false};
    bool listAddresses(std::vector<InterfaceAddress>& out, int& error) override
    {
        if (armed)
            throw std::runtime_error("address table vanished");
        return FakeNetTables::listAddresses(out, error);
    }
};

// Types `text` key by key, also characters QTest's key helpers do not take.
void type(QWidget* w, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

void savePicture(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("TVX_SCREENSHOTS");
    if (!dir.isEmpty())
        w->grab().save(dir + '/' + name + ".png");
}

} // namespace

class TestReadWindows : public QObject {
    Q_OBJECT
private slots:
    void passwordPromptLayout();
    void passwordPromptTakesPrintableAsciiOnly();
    void passwordPromptKeys();
    void progressWindowLayout();
    void workerErrorShowsItsExceptionAndOpensNothing();
    void nothingSelectedDoesNothing();

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestReadWindows::passwordPromptLayout()
{
    TPasswordDlg dlg(nullptr);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Password Dialog"));
    QCOMPARE(dlg.size(), QSize(233, 93));
    auto* label = dlg.findChild<QLabel*>(QStringLiteral("Label1"));
    QCOMPARE(label->text(), QStringLiteral("Enter password:"));
    QCOMPARE(label->pos(), QPoint(8, 9));
    auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("Password"));
    QCOMPARE(edit->geometry(), QRect(8, 27, 217, 21));
    QCOMPARE(edit->maxLength(), 8);
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    auto* ok = dlg.findChild<QPushButton*>(QStringLiteral("OKBtn"));
    auto* cancel = dlg.findChild<QPushButton*>(QStringLiteral("CancelBtn"));
    QCOMPARE(ok->geometry(), QRect(70, 59, 75, 25));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(cancel->geometry(), QRect(150, 59, 75, 25));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClicks(edit, "abc");
    savePicture(&dlg, "PasswordDlg");
}

void TestReadWindows::passwordPromptTakesPrintableAsciiOnly()
{
    TPasswordDlg dlg(nullptr);
    dlg.show();
    auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("Password"));
    type(edit,
         QString::fromUtf8("a\xC3\xA9~\t Z\xE2\x82\xAC"
                           "9"));
    QCOMPARE(dlg.password(), QStringLiteral("a~ Z9"));
    type(edit, QStringLiteral("0123456789"));
    QCOMPARE(dlg.password(), QStringLiteral("a~ Z9012"));
    QCOMPARE(dlg.password().toLatin1().size(), 8);
    // Pasted text goes through the same check.
    edit->clear();
    edit->insert(QString::fromUtf8("p\xC3\xA4ss"));
    QVERIFY(!dlg.password().contains(QChar(0xE4)));
    dlg.clearPassword();
    QCOMPARE(dlg.password(), QString());
}

void TestReadWindows::passwordPromptKeys()
{
    TPasswordDlg dlg(nullptr);
    const auto answer = test::whenModal([](QWidget* modal) {
        QTest::keyClick(modal, Qt::Key_Escape);
        return true;
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    const auto answer2 = test::whenModal([](QWidget* modal) {
        QTest::keyClicks(modal->focusWidget(), "pw");
        QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
        return true;
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QCOMPARE(dlg.password(), QStringLiteral("pw"));
}

void TestReadWindows::progressWindowLayout()
{
    TtcpPrgForm form(nullptr);
    QCOMPARE(form.objectName(), QStringLiteral("tcpPrgForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Progress..."));
    QCOMPARE(form.size(), QSize(271, 138));
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    auto* label = form.findChild<QLabel*>(QStringLiteral("prgMsg"));
    QCOMPARE(label->text(), QStringLiteral("  "));
    QCOMPARE(label->pos(), QPoint(16, 16));
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("prgBar"));
    QCOMPARE(bar->geometry(), QRect(10, 40, 225, 17));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 10);
    auto* cancel = form.findChild<QPushButton*>(QStringLiteral("cancelBtn"));
    QCOMPARE(cancel->geometry(), QRect(168, 66, 75, 24));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    form.prepare();
    QCOMPARE(bar->value(), 20);
    form.setMessage(QStringLiteral("get information...12/35"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    savePicture(&form, "tcpPrgForm");
}

void TestReadWindows::workerErrorShowsItsExceptionAndOpensNothing()
{
    test::ScriptedPrompter prompter;
    ThrowingTables tables;
    AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = unownedTables(tables);
    auto main = createAppWindows(env);
    main->show();
    QVERIFY(main->networkReady());

    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.macText, "02:54:58:01:00:01");
    std::strcpy(r.ipText, "192.0.2.11");
    std::strcpy(r.passwordState, "None");
    main->addDevice(r);
    main->selectDeviceRow(0);
    tables.armed = true;

    // The progress window stays open after the error until the user closes it.
    bool stillOpenAfterError = false;
    const auto answer = test::whenModal([&](QWidget* modal) {
        if (modal->objectName() != QLatin1String("tcpPrgForm")
            || !main->messageLog()->toPlainText().contains("TCPcmdgetThread Exception"))
            return false;
        QTest::qWait(100);
        stillOpenAfterError = modal->isVisible();
        modal->close();
        return true;
    });
    main->deviceListViewDblClick();
    QVERIFY(stillOpenAfterError);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(prompter.count(), 1);
    QCOMPARE(prompter.shown().first().kind, QStringLiteral("exception"));
    QCOMPARE(prompter.shown().first().text, QStringLiteral("address table vanished"));
    QVERIFY(!main->isDeviceOpen("02:54:58:01:00:01"));
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TcfgForm*>(w) || !w->isVisible());
    QVERIFY(tables.neighbours.empty());
}

void TestReadWindows::nothingSelectedDoesNothing()
{
    test::ScriptedPrompter prompter;
    test::FakeNetTables tables;
    AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = unownedTables(tables);
    auto main = createAppWindows(env);
    main->show();
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.macText, "02:54:58:01:00:01");
    main->addDevice(r); // no IP address
    main->deviceListViewDblClick();
    main->selectDeviceRow(0);
    main->deviceListViewDblClick();
    QCOMPARE(prompter.count(), 0);
    QCOMPARE(WorkerThread::liveCount(), 0);
}

QTEST_MAIN(TestReadWindows)
#include "tst_ReadWindows.moc"
