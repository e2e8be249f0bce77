// The main window offscreen: layout, start-up, device table, the dispatcher's
// checks and messages, and the ways out. The host's tables are a fake and no
// test here lets a search or a module operation start: this runs in the
// host's own network namespace.
#include "app/AppWindows.h"
#include "app/Mainfrm.h"
#include "app/SerialPortDialog.h"
#include "common/FakeNetTables.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "discovery/DeviceRegistry.h"
#include "discovery/Prgfrm.h"
#include "discovery/Sipdlg.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradeprgfrm.h"
#include "firmware/Upgradepsswddlg.h"
#include "handover/TestWorker.h"
#include "handover/WorkerOwner.h"
#include "net/Ipv4.h"
#include "platform/ExitSignals.h"
#include "protocol/Passworddlg.h"
#include "protocol/Tcpprgfrm.h"

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/stat.h>

using namespace tvx;
using tvx::test::FakeNetTables;
using tvx::test::ScriptedPrompter;
using tvx::test::TestWorker;

namespace {

DiscoveryRecord record(const char* mac, const char* ip, const char* name = "dev",
                       const char* password = "None", const char* mode = "Normal")
{
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.macText, mac, sizeof r.macText - 1);
    std::strncpy(r.ipText, ip, sizeof r.ipText - 1);
    std::strncpy(r.deviceName, name, sizeof r.deviceName - 1);
    std::strncpy(r.modelName, "TVX-100", sizeof r.modelName - 1);
    std::strncpy(r.passwordState, password, sizeof r.passwordState - 1);
    std::strncpy(r.deviceMode, mode, sizeof r.deviceMode - 1);
    return r;
}

// A caption as it is shown: the "&" before a mnemonic letter only underlines it.
QString shown(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

// One main window with its start-up windows over a fake host.
struct Harness {
    FakeNetTables tables;
    ScriptedPrompter prompter;
    AppEnvironment env;
    std::unique_ptr<TmainForm> form;
    int quitCalls = 0;

    explicit Harness(bool show = true)
    {
        tables.addresses = {{parseIpv4("192.0.2.10", false), 2}};
        env.prompter = &prompter;
        env.netTables = unownedTables(tables);
        env.quitApplication = [this] { ++quitCalls; };
        // Should any check let an operation through, its question is
        // answered No so nothing reaches the network.
        for (int i = 0; i < 4; ++i)
            prompter.queueAnswer(false);
        if (show)
            start();
    }
    void start()
    {
        form = createAppWindows(env);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    ~Harness()
    {
        if (form && form->isVisible())
            form->close();
    }
    QTreeWidget* tree() const { return form->funcTree(); }
    QTreeWidgetItem* item(const QString& text) const
    {
        const auto found = tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    // A real click on a tree item.
    void click(const QString& text)
    {
        QTreeWidgetItem* it = item(text);
        QVERIFY2(it, qPrintable(text));
        const QRect r = tree()->visualItemRect(it);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, r.center());
    }
    bool rootSelected() const
    {
        const auto sel = tree()->selectedItems();
        return sel.size() == 1 && sel.first() == tree()->topLevelItem(0);
    }
    void selectRow(int row) { form->selectDeviceRow(row); }
    // A cell of the list as it shows it (column 0 is Number).
    QString shownCell(int row, int column) const
    {
        const QAbstractItemModel* model = form->deviceList()->model();
        return model->index(row, column).data().toString();
    }
};

// Answers the next modal dialog once it is up, while the guard lives.
[[nodiscard]] std::unique_ptr<QTimer> answerNextDialog(std::function<void(QDialog*)> answer)
{
    return test::whenModal([answer = std::move(answer)](QWidget* modal) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (dialog)
            answer(dialog);
        return dialog != nullptr;
    });
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void windowsAreCreatedInOrder();
    void layoutFollowsTheForm();
    void startupLeavesAnEmptyReadyWindow();
    void startupFailures_data();
    void startupFailures();
    void rootClickDoesNothing();
    void deviceActionsAreAddedOnce();
    void rowsAreNumberedAndDeduplicatedByMac();
    void openModulesAreBlue();
    void openTableHasAHundredSlots();
    void upgradeAndRebootNeedARow_data();
    void upgradeAndRebootNeedARow();
    void upgradeAndRebootRefuseAnOpenModule_data();
    void upgradeAndRebootRefuseAnOpenModule();
    void upgradeAsksForTheRightFirmwareDialog_data();
    void upgradeAsksForTheRightFirmwareDialog();
    void rebootRefusesABlankPassword();
    void rebootAnsweredNoStartsNothing();
    void workerLogLinesReachTheLogInOrder();
    void exitPathsEndTheProgram_data();
    void exitPathsEndTheProgram();
    void exitStopsRunningWorkers();
    void terminationSignalsCloseTheWindow();
    void selectedRowsAreReadable();
    void enterOpensTheRowAsADoubleClick();
    void actionsReachTheSelectedModuleAfterSortAndFilter();
    void rebootConfirmationNamesTheModule();
    void exportWritesTheVisibleRows();
    void exportThatCannotWriteSaysSo();
    void serialPortShowsTheSelectedModule();
    void statusBarCountsAndCtrlCCopiesRows();
    void keysReachTheWindowWhateverHasFocus();
    void keyboardOpensTheRowMenu();
    void desktopActionsThatCannotStartSaySo();
    void placementIsKeptBetweenRuns();

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestMainForm::windowsAreCreatedInOrder()
{
    Harness h;
    const auto& w = h.form->windows();
    const QList<QObject*> expected = {w.udpPrgForm,    w.tcpPrgForm, w.PasswordDlg,
                                      w.upgradeFWDlg,  w.sIPDlg,     w.upgradePsswdDlg,
                                      w.upgradePrgForm};
    QList<QObject*> dialogs;
    for (QObject* child : h.form->children()) {
        if (expected.contains(child))
            dialogs << child;
    }
    QCOMPARE(dialogs, expected);
    for (QObject* o : expected)
        QVERIFY(!static_cast<QWidget*>(o)->isVisible());
}

void TestMainForm::layoutFollowsTheForm()
{
    Harness h;
    TmainForm* f = h.form.get();
    QCOMPARE(f->windowTitle(), QStringLiteral("Tarvanix Utility v1.05"));
    // At its place where that fits the screen, else inside the available area.
    const QRect area = f->screen()->availableGeometry();
    if (area.contains(QRect(337, 203, 785, 552))) {
        QCOMPARE(f->size(), QSize(785, 552));
        QCOMPARE(f->pos(), QPoint(337, 203));
    } else {
        QVERIFY(area.contains(QRect(f->pos(), f->size())));
    }
    QVERIFY(!f->windowIcon().isNull());

    auto* file = f->findChild<QMenu*>(QStringLiteral("File1"));
    QVERIFY(file);
    QCOMPARE(shown(file->title()), QStringLiteral("File"));
    auto* exit1 = f->findChild<QAction*>(QStringLiteral("Exit1"));
    QVERIFY(exit1);
    QCOMPARE(shown(exit1->text()), QStringLiteral("Exit"));
    QCOMPARE(file->actions().last(), exit1);

    auto* control = f->findChild<QToolBar*>(QStringLiteral("ControlBar1"));
    QVERIFY(control);
    QCOMPARE(control->height(), 36);
    auto* tools = control->findChild<QToolBar*>(QStringLiteral("ToolBar1"));
    QVERIFY(tools);
    auto* exitBtn = tools->findChild<QToolButton*>(QStringLiteral("exitBtn"));
    QVERIFY(exitBtn);
    QCOMPARE(shown(exitBtn->text()), QStringLiteral("Exit"));
    QCOMPARE(exitBtn->size(), QSize(88, 24));
    QVERIFY(!exitBtn->icon().isNull());

    QTreeWidget* tree = h.tree();
    QCOMPARE(tree->indentation(), 19);
    QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
    auto* mainSplitter = f->findChild<QSplitter*>(QStringLiteral("mainSplitter"));
    QVERIFY(mainSplitter);
    QCOMPARE(mainSplitter->orientation(), Qt::Horizontal);
    // The given width, grown only where the desktop font would clip an item.
    const int treeWidth = mainSplitter->sizes().first();
    QVERIFY(treeWidth >= 118);
    const auto searchItem =
        tree->findItems(QStringLiteral("Search by IP"), Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!searchItem.isEmpty());
    QVERIFY(tree->visualItemRect(searchItem.first()).x()
                + QFontMetrics(tree->font()).horizontalAdvance(QStringLiteral("Search by IP"))
            <= tree->viewport()->width());
    QCOMPARE(f->findChild<QWidget*>(QStringLiteral("leftPanel"))->minimumWidth(), 10);

    QTreeView* list = f->deviceList();
    // The search's columns, then what the last operation on several modules did.
    const QStringList captions = {"Number",   "Device Name", "MAC Address", "IP Address",
                                  "Password", "Model Name",  "Device Mode", "Status"};
    QCOMPARE(list->model()->columnCount(), 8);
    for (int c = 0; c < 8; ++c)
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), captions.at(c));
    const int widths[] = {82, 106, 95, 60, 82, 80};
    for (int c = 1; c < 7; ++c)
        QVERIFY(list->columnWidth(c) >= widths[c - 1]);
    // A full MAC and IP address is never clipped, whatever the font.
    const QFontMetrics metrics(list->font());
    QVERIFY(list->columnWidth(2) > metrics.horizontalAdvance(QStringLiteral("00:00:00:00:00:00")));
    QVERIFY(list->columnWidth(3) > metrics.horizontalAdvance(QStringLiteral("255.255.255.255")));
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto* gridSplitter = f->findChild<QSplitter*>(QStringLiteral("gridSplitter"));
    QVERIFY(gridSplitter);
    QCOMPARE(gridSplitter->orientation(), Qt::Vertical);
    QCOMPARE(gridSplitter->widget(0), static_cast<QWidget*>(list));
    QCOMPARE(gridSplitter->widget(1), static_cast<QWidget*>(f->messageLog()));
    QCOMPARE(f->messageLog()->height(), 109);
    QVERIFY(f->messageLog()->isReadOnly());
    QCOMPARE(f->messageLog()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestMainForm::startupLeavesAnEmptyReadyWindow()
{
    Harness h(false);
    h.form = createAppWindows(h.env);
    h.form->appendLog(QStringLiteral("from before"));
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    h.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
    QVERIFY(h.form->networkReady());
    QVERIFY(!h.form->searchBusy());
    QCOMPARE(h.form->messageLog()->toPlainText(), QString());
    QCOMPARE(h.form->deviceCount(), 0);
    QCOMPARE(h.prompter.count(), 0);
    QCOMPARE(h.tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* root = h.tree()->topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("Configurate"));
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 2);
    QCOMPARE(root->child(0)->text(0), QStringLiteral("Broadcast"));
    QCOMPARE(root->child(1)->text(0), QStringLiteral("Search by IP"));
    QCOMPARE(h.form->hostNetwork().snapshot().count, 1);
}

void TestMainForm::startupFailures_data()
{
    QTest::addColumn<int>("failingStep");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");
    QTest::newRow("sockets") << 1 << "winsock startup failed"
                             << "";
    QTest::newRow("addresses") << 2 << "get local ip failed"
                               << QStringLiteral("GetIpAddrTable failed, %1").arg(EACCES);
    QTest::newRow("address control") << 3 << "import common control failed"
                                     << "";
}

void TestMainForm::startupFailures()
{
    QFETCH(int, failingStep);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    Harness h(false);
    h.env.startSockets = [&] { return failingStep != 1; };
    h.tables.listFails = failingStep == 2;
    h.tables.listError = EACCES;
    h.env.registerAddressControl = [&] { return failingStep != 3; };
    h.start();

    QVERIFY(!h.form->networkReady());
    QVERIFY(h.form->isVisible());
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().kind, QStringLiteral("error"));
    QCOMPARE(h.prompter.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(h.prompter.shown().first().text, message);
    QCOMPARE(h.form->messageLog()->toPlainText(), logged);

    // Every click now only reports the failure, and the selection stays
    // where the click put it. (A dialog that should not open is closed.)
    const auto guard = answerNextDialog([](QDialog* d) { d->reject(); });
    h.click(QStringLiteral("Search by IP"));
    h.click(QStringLiteral("Configurate"));
    h.click(QStringLiteral("Search by IP"));
    QCOMPARE(h.prompter.count(), 4);
    for (int i = 1; i < 4; ++i) {
        QCOMPARE(h.prompter.shown().at(i).caption, QStringLiteral("Error"));
        QCOMPARE(h.prompter.shown().at(i).text,
                 QStringLiteral("some error occur during network startup"));
    }
    QCOMPARE(h.tree()->selectedItems().value(0), h.item(QStringLiteral("Search by IP")));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMainForm::rootClickDoesNothing()
{
    Harness h;
    h.click(QStringLiteral("Configurate"));
    h.click(QStringLiteral("Configurate"));
    QCOMPARE(h.prompter.count(), 0);
    QVERIFY(h.rootSelected());
    QCOMPARE(h.form->deviceCount(), 0);
}

void TestMainForm::deviceActionsAreAddedOnce()
{
    Harness h;
    h.form->showDeviceActions(true);
    h.form->showDeviceActions(true);
    QTreeWidgetItem* root = h.tree()->topLevelItem(0);
    QStringList children;
    for (int i = 0; i < root->childCount(); ++i)
        children << root->child(i)->text(0);
    QCOMPARE(children, QStringList({"Broadcast", "Search by IP", "Upgrade", "Reboot"}));
    h.form->showDeviceActions(false);
    QCOMPARE(root->childCount(), 2);
    h.form->showDeviceActions(false);
    QCOMPARE(root->childCount(), 2);
    h.form->showDeviceActions(true);
    h.form->buildFunctionTree();
    QCOMPARE(h.tree()->topLevelItem(0)->childCount(), 2);
}

void TestMainForm::rowsAreNumberedAndDeduplicatedByMac()
{
    Harness h;
    TmainForm* f = h.form.get();
    f->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "first", "Yes", "Normal"));
    f->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "second", "None", ""));
    // The same module again (another interface): its first answer stays.
    f->addDevice(record("02:00:00:00:00:01", "192.0.2.99", "again", "None", ""));
    // Case matters in the comparison, as the texts are compared exactly.
    f->addDevice(record("02:00:00:00:00:0a", "198.51.100.9", "lower", "", ""));
    f->addDevice(record("02:00:00:00:00:0A", "198.51.100.10", "upper", "", ""));
    QCOMPARE(f->deviceCount(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(h.shownCell(i, 0), QString::number(i + 1));
    QCOMPARE(f->deviceCell(0, CellDeviceName), QStringLiteral("first"));
    QCOMPARE(f->deviceCell(0, CellIp), QStringLiteral("198.51.100.7"));
    QCOMPARE(f->deviceCell(0, CellPassword), QStringLiteral("Yes"));
    QCOMPARE(f->deviceCell(0, CellModel), QStringLiteral("TVX-100"));
    QCOMPARE(f->deviceCell(0, CellMode), QStringLiteral("Normal"));
    QCOMPARE(f->deviceCell(1, CellMac), QStringLiteral("02:00:00:00:00:02"));
    QCOMPARE(f->deviceCell(1, CellMode), QString());
    QCOMPARE(f->deviceCell(2, CellPassword), QString());
    QCOMPARE(f->deviceCell(3, CellDeviceName), QStringLiteral("upper"));

    // A name that fills its field without a terminating zero stays in it.
    DiscoveryRecord full = record("02:00:00:00:00:03", "198.51.100.11");
    std::memset(full.deviceName, 'N', sizeof full.deviceName);
    f->addDevice(full);
    QCOMPARE(f->deviceCell(4, CellDeviceName), QString(20, QLatin1Char('N')));
    QCOMPARE(f->deviceCell(4, CellMac), QStringLiteral("02:00:00:00:00:03"));

    QCOMPARE(f->firstSelectedRow(), -1);
    h.selectRow(2);
    QCOMPARE(f->firstSelectedRow(), 2);

    // After the list is cleared (a new search) numbering starts at 1 again.
    f->clearDevices();
    f->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "second"));
    QCOMPARE(f->deviceCount(), 1);
    QCOMPARE(h.shownCell(0, 0), QStringLiteral("1"));
}

void TestMainForm::openModulesAreBlue()
{
    Harness h;
    TmainForm* f = h.form.get();
    f->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    f->addDevice(record("02:00:00:00:00:02", "198.51.100.8"));
    const QColor normal = f->deviceList()->palette().color(QPalette::Text);
    QCOMPARE(f->deviceRowColour(0), normal);

    QCOMPARE(f->markDeviceOpen("02:00:00:00:00:02", true), 0);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:00:02"), -1);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:00:01"), 0);
    QCOMPARE(f->deviceRowColour(1), QColor(0, 0, 255));
    QCOMPARE(f->deviceRowColour(0), normal);
    // Every cell of the row, not only the MAC address.
    const QAbstractItemModel* model = f->deviceList()->model();
    QVERIFY(model->index(1, 0).data(DeviceRegistry::OpenRole).toBool());
    QVERIFY(model->index(1, 6).data(DeviceRegistry::OpenRole).toBool());

    // Opening it again is refused; closing turns it back.
    QCOMPARE(f->markDeviceOpen("02:00:00:00:00:02", true), -1);
    QCOMPARE(f->markDeviceOpen("02:00:00:00:00:02", false), 0);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:00:02"), 0);
    QCOMPARE(f->deviceRowColour(1), normal);

    // Only the first 17 characters count.
    QCOMPARE(f->markDeviceOpen("02:00:00:00:00:01 trailing", true), 0);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:00:01"), -1);
    QCOMPARE(f->deviceRowColour(0), QColor(0, 0, 255));
    // A row added while its module is open is drawn blue at once.
    f->clearDevices();
    f->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    QCOMPARE(f->deviceRowColour(0), QColor(0, 0, 255));
}

void TestMainForm::openTableHasAHundredSlots()
{
    Harness h;
    TmainForm* f = h.form.get();
    char mac[20];
    for (int i = 0; i < 100; ++i) {
        std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", i / 256, i % 256);
        QCOMPARE(f->markDeviceOpen(mac, true), 0);
    }
    // The 101st is not stored, yet the call still answers 0.
    f->addDevice(record("02:00:00:00:FF:FF", "198.51.100.7"));
    QCOMPARE(f->markDeviceOpen("02:00:00:00:FF:FF", true), 0);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:FF:FF"), 0);
    QCOMPARE(f->deviceRowColour(0), f->deviceList()->palette().color(QPalette::Text));
    QCOMPARE(f->isDeviceOpen("02:00:00:00:00:63"), -1); // the 100th

    // A freed slot is used again.
    QCOMPARE(f->markDeviceOpen("02:00:00:00:00:05", false), 0);
    QCOMPARE(f->markDeviceOpen("02:00:00:00:FF:FF", true), 0);
    QCOMPARE(f->isDeviceOpen("02:00:00:00:FF:FF"), -1);
    QCOMPARE(f->deviceRowColour(0), QColor(0, 0, 255));
}

void TestMainForm::upgradeAndRebootNeedARow_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("upgrade") << "Upgrade";
    QTest::newRow("reboot") << "Reboot";
}

void TestMainForm::upgradeAndRebootNeedARow()
{
    QFETCH(QString, action);
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    h.form->showDeviceActions(true);
    h.click(action);
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(h.prompter.shown().first().text, QStringLiteral("please select a device first"));
    QVERIFY(h.rootSelected());
    // The same item works again at once.
    h.click(action);
    QCOMPARE(h.prompter.count(), 2);
    QVERIFY(h.rootSelected());
}

void TestMainForm::upgradeAndRebootRefuseAnOpenModule_data()
{
    upgradeAndRebootNeedARow_data();
}

void TestMainForm::upgradeAndRebootRefuseAnOpenModule()
{
    QFETCH(QString, action);
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "dev", "Yes"));
    h.form->showDeviceActions(true);
    h.form->markDeviceOpen("02:00:00:00:00:01", true);
    h.selectRow(0);
    h.click(action);
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(h.prompter.shown().first().text,
             QStringLiteral("please exit from configuration utility"));
    QVERIFY(h.rootSelected());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMainForm::upgradeAsksForTheRightFirmwareDialog_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("withPasswordField");
    QTest::newRow("module with a password") << "Yes" << true;
    QTest::newRow("module without") << "None" << false;
    QTest::newRow("password state unknown") << "" << false;
}

void TestMainForm::upgradeAsksForTheRightFirmwareDialog()
{
    QFETCH(QString, password);
    QFETCH(bool, withPasswordField);
    Harness h;
    h.form->addDevice(
        record("02:00:00:00:00:01", "198.51.100.7", "dev", password.toLatin1().constData()));
    h.form->showDeviceActions(true);
    h.selectRow(0);
    QDialog* shown = nullptr;
    QString lineShown;
    QString titleShown;
    const auto answerer = answerNextDialog([&](QDialog* d) {
        shown = d;
        titleShown = d->windowTitle();
        if (auto* label = d->findChild<QLabel*>(QStringLiteral("moduleLabel"));
            label && label->isVisible())
            lineShown = label->text();
        d->reject(); // Cancel: nothing may start
    });
    h.click(QStringLiteral("Upgrade"));
    QVERIFY(shown);
    // The module on a line of its own and after the caption, for this run only.
    const QString module = QStringLiteral("dev  198.51.100.7  02:00:00:00:00:01");
    QCOMPARE(lineShown, module);
    QCOMPARE(titleShown, QStringLiteral("Upgrade Dialog \u2014 ") + module);
    QCOMPARE(shown->windowTitle(), QStringLiteral("Upgrade Dialog"));
    QVERIFY(!shown->findChild<QLabel*>(QStringLiteral("moduleLabel"))->isVisibleTo(shown));
    const auto& w = h.form->windows();
    QCOMPARE(static_cast<QObject*>(shown),
             withPasswordField ? static_cast<QObject*>(w.upgradePsswdDlg)
                               : static_cast<QObject*>(w.upgradeFWDlg));
    QCOMPARE(h.prompter.count(), 0);
    QVERIFY(h.rootSelected());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMainForm::rebootRefusesABlankPassword()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "dev", "Yes"));
    h.form->showDeviceActions(true);
    h.selectRow(0);
    auto* edit = h.form->windows().PasswordDlg->findChild<QLineEdit*>(QStringLiteral("Password"));
    if (edit)
        edit->setText(QStringLiteral("stale"));
    QDialog* shown = nullptr;
    QString textWhenShown = QStringLiteral("unset");
    const auto answerer = answerNextDialog([&](QDialog* d) {
        shown = d;
        if (edit)
            textWhenShown = edit->text();
        d->accept(); // OK with nothing typed
    });
    h.click(QStringLiteral("Reboot"));
    QCOMPARE(static_cast<QObject*>(shown), static_cast<QObject*>(h.form->windows().PasswordDlg));
    if (edit)
        QCOMPARE(textWhenShown, QString()); // emptied before it was shown
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().kind, QStringLiteral("error"));
    QCOMPARE(h.prompter.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(h.prompter.shown().first().text, QStringLiteral("Password can't be blank"));
    QVERIFY(h.rootSelected());
}

void TestMainForm::rebootAnsweredNoStartsNothing()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    h.form->showDeviceActions(true);
    h.selectRow(0);
    h.click(QStringLiteral("Reboot"));
    QCOMPARE(h.prompter.count(), 1);
    const auto asked = h.prompter.shown().first();
    QCOMPARE(asked.kind, QStringLiteral("confirm"));
    QCOMPARE(asked.caption, QStringLiteral("Confirm"));
    QCOMPARE(asked.text, QStringLiteral("Are you sure to reboot device?"));
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!static_cast<QWidget*>(h.form->windows().upgradePrgForm)->isVisible());
    QCOMPARE(WorkerThread::liveCount(), 0);
    QVERIFY(h.rootSelected());
}

void TestMainForm::workerLogLinesReachTheLogInOrder()
{
    Harness h;
    auto token = std::make_shared<RunToken>();
    WorkerThread::start(
        std::make_unique<TestWorker>(h.form->makeLink(token, nullptr, 100), [](TestWorker& w) {
            for (int i = 0; i < 20; ++i)
                w.hand().appendLog(QStringLiteral("line %1").arg(i));
        }));
    h.form->appendLog(QStringLiteral("from the UI thread"));
    QVERIFY(workers_.waitFor(std::chrono::seconds(5)));
    QStringList lines = h.form->messageLog()->toPlainText().split(QLatin1Char('\n'));
    lines.removeAll(QStringLiteral("from the UI thread"));
    QCOMPARE(lines.size(), 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(lines.at(i), QStringLiteral("line %1").arg(i));
}

void TestMainForm::exitPathsEndTheProgram_data()
{
    QTest::addColumn<int>("path");
    QTest::newRow("Exit button") << 0;
    QTest::newRow("File > Exit") << 1;
    QTest::newRow("close box") << 2;
}

void TestMainForm::exitPathsEndTheProgram()
{
    QFETCH(int, path);
    Harness h;
    // A configuration window is a top-level window of its own.
    QWidget config;
    config.setWindowTitle(QStringLiteral("configuration"));
    config.show();
    if (path == 0)
        QTest::mouseClick(h.form->findChild<QToolButton*>(QStringLiteral("exitBtn")),
                          Qt::LeftButton);
    else if (path == 1)
        h.form->findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
    else
        h.form->close();
    QVERIFY(!h.form->isVisible());
    QVERIFY(!config.isVisible());
    QCOMPARE(h.quitCalls, 1);
}

void TestMainForm::exitStopsRunningWorkers()
{
    Harness h;
    auto token = std::make_shared<RunToken>();
    std::atomic<bool> sawStop{false};
    WorkerThread::start(std::make_unique<TestWorker>(
        h.form->makeLink(token, nullptr, 100), [&sawStop](TestWorker& w) {
            QElapsedTimer t;
            t.start();
            while (!w.stopping() && t.elapsed() < 10000)
                QThread::msleep(2);
            sawStop = w.stopping();
            w.hand().storeResult(0);
        }));
    h.form->close();
    QVERIFY(workers_.waitFor(std::chrono::seconds(5)));
    QVERIFY(sawStop);
    QVERIFY(token->detached());
    QCOMPARE(token->result, 1); // a detached run's result is dropped
}

void TestMainForm::terminationSignalsCloseTheWindow()
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Harness h;
        ExitSignals exitSignals;
        QVERIFY(exitSignals.installed());
        QObject::connect(&exitSignals, &ExitSignals::received, h.form.get(),
                         [&h] { h.form->close(); });
        QSignalSpy spy(&exitSignals, &ExitSignals::received);
        ::raise(sig);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().toInt(), sig);
        QVERIFY(!h.form->isVisible());
        QCOMPARE(h.quitCalls, 1);
    }
}

namespace {
// The largest difference in lightness between the selected cell's background
// (taken in the padding before its text) and any pixel of the cell: text
// that cannot be read on the band scores low.
int selectedCellContrast(QTreeView* list, int row, int column)
{
    const QRect rect = list->visualRect(list->model()->index(row, column));
    const QImage image = list->viewport()->grab(rect).toImage();
    const int backLightness = QColor(image.pixel(1, image.height() / 2)).lightness();
    int contrast = 0;
    for (int y = 0; y < image.height() - 1; ++y)
        for (int x = 0; x < image.width() - 1; ++x)
            contrast =
                std::max(contrast, std::abs(QColor(image.pixel(x, y)).lightness() - backLightness));
    return contrast;
}
} // namespace

void TestMainForm::selectedRowsAreReadable()
{
    Harness h;
    TmainForm* f = h.form.get();
    f->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    f->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Press-Line-2"));
    f->markDeviceOpen("02:00:00:00:00:02", true);
    QTreeView* list = f->deviceList();
    list->setFocus();
    for (int row = 0; row < 2; ++row) {
        h.selectRow(row);
        QVERIFY2(selectedCellContrast(list, row, 1) > 100,
                 qPrintable(QStringLiteral("row %1 with focus").arg(row)));
        h.tree()->setFocus();
        QVERIFY2(selectedCellContrast(list, row, 1) > 100,
                 qPrintable(QStringLiteral("row %1 without focus").arg(row)));
        list->setFocus();
    }
    // For CI's artefacts: what the check saw.
    if (const QByteArray dir = qgetenv("TVX_SCREENSHOT_DIR"); !dir.isEmpty())
        list->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/selected-row.png"));
}

void TestMainForm::enterOpensTheRowAsADoubleClick()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7"));
    h.form->markDeviceOpen("02:00:00:00:00:01", true);
    h.selectRow(0);
    // The double-click's first check answers without reaching the network.
    QTest::keyClick(h.form->deviceList(), Qt::Key_Return);
    QCOMPARE(h.prompter.texts(), QStringList{QStringLiteral("already selected")});
}

void TestMainForm::actionsReachTheSelectedModuleAfterSortAndFilter()
{
    Harness h;
    TmainForm* f = h.form.get();
    f->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Zeta"));
    f->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Alpha"));
    f->addDevice(record("02:00:00:00:00:03", "198.51.100.9", "Mid"));
    for (int i = 4; i <= 10; ++i)
        f->addDevice(
            record(qPrintable(QStringLiteral("02:00:00:00:00:%1").arg(i, 2, 10, QLatin1Char('0'))),
                   "198.51.100.50", "Other"));
    f->showDeviceActions(true);
    QTreeView* list = f->deviceList();

    // Number sorts as a number and keeps each row's number.
    list->sortByColumn(0, Qt::DescendingOrder);
    QCOMPARE(h.shownCell(0, 0), QStringLiteral("10"));
    QCOMPARE(h.shownCell(9, 0), QStringLiteral("1"));
    list->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(h.shownCell(0, 1), QStringLiteral("Alpha"));
    QCOMPARE(h.shownCell(0, 0), QStringLiteral("2"));

    // Sorted by name, the last row is Zeta: Reboot asks about Zeta.
    h.selectRow(9);
    QCOMPARE(f->deviceCell(9, CellDeviceName), QStringLiteral("Zeta"));
    h.click(QStringLiteral("Reboot"));
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().text, QStringLiteral("Are you sure to reboot device?"));
    QCOMPARE(h.prompter.shown().first().subject,
             QStringLiteral("Zeta  198.51.100.7  02:00:00:00:00:01"));

    // Filtered to "mid", the one row left is the only one an action reaches.
    f->deviceFilter()->setText(QStringLiteral("mid"));
    QCOMPARE(f->visibleDeviceCount(), 1);
    QCOMPARE(f->firstSelectedRow(), -1); // Zeta's selection went with its row
    // By IP and MAC too.
    f->deviceFilter()->setText(QStringLiteral("00:00:02"));
    QCOMPARE(f->visibleDeviceCount(), 1);
    QCOMPARE(h.shownCell(0, 1), QStringLiteral("Alpha"));
    h.selectRow(0);
    QMenu* menu = f->deviceContextMenu();
    QAction* copyIp = nullptr;
    for (QAction* a : menu->actions())
        if (shown(a->text()) == QStringLiteral("Copy IP address"))
            copyIp = a;
    QVERIFY(copyIp);
    copyIp->trigger();
    delete menu;
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("198.51.100.8"));
}

void TestMainForm::rebootConfirmationNamesTheModule()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.form->showDeviceActions(true);
    h.selectRow(0);
    // F5 is Broadcast and Ctrl+R is Reboot, through the menu beside File.
    auto* menu = h.form->findChild<QMenu*>(QStringLiteral("deviceMenu"));
    QVERIFY(menu);
    QAction* reboot = nullptr;
    for (QAction* a : menu->actions()) {
        if (shown(a->text()) == QStringLiteral("Broadcast"))
            QCOMPARE(a->shortcut(), QKeySequence(Qt::Key_F5));
        if (shown(a->text()) == QStringLiteral("Reboot"))
            reboot = a;
    }
    QVERIFY(reboot);
    reboot->trigger();
    QCOMPARE(h.prompter.count(), 1);
    QCOMPARE(h.prompter.shown().first().text, QStringLiteral("Are you sure to reboot device?"));
    QCOMPARE(h.prompter.shown().first().subject,
             QStringLiteral("Press-Line-1  198.51.100.7  02:00:00:00:00:01"));
    QVERIFY(h.rootSelected());
    // The module is named for that operation only.
    QCOMPARE(h.prompter.subject(), QString());
}

void TestMainForm::exportWritesTheVisibleRows()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Hall, 3", "Yes"));
    h.form->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Dock"));
    h.form->deviceFilter()->setText(QStringLiteral("Hall"));
    QTemporaryDir dir;
    const QString csvPath = dir.filePath(QStringLiteral("d.csv"));
    QVERIFY(h.form->exportDeviceList(csvPath, false));
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(
        csv.readAll(),
        QByteArray("Number,Device Name,MAC Address,IP Address,Password,Model Name,Device Mode\n"
                   "1,\"Hall, 3\",02:00:00:00:00:01,198.51.100.7,Yes,TVX-100,Normal\n"));
    const QString jsonPath = dir.filePath(QStringLiteral("d.json"));
    QVERIFY(h.form->exportDeviceList(jsonPath, true));
    QFile json(jsonPath);
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QByteArray bytes = json.readAll();
    QVERIFY(bytes.endsWith("]\n"));
    const QJsonArray array = QJsonDocument::fromJson(bytes).array();
    QCOMPARE(array.size(), 1);
    const QJsonObject o = array.first().toObject();
    QCOMPARE(o.value(QStringLiteral("version")).toInt(), 1);
    QCOMPARE(o.value(QStringLiteral("devName")).toString(), QStringLiteral("Hall, 3"));
    QCOMPARE(o.value(QStringLiteral("lanMac")).toString(), QStringLiteral("02:00:00:00:00:01"));
    QCOMPARE(o.value(QStringLiteral("password")), QJsonValue(true));
    QCOMPARE(o.value(QStringLiteral("number")).toString(), QStringLiteral("1"));
}

// A FIFO would have held the window in its open; a device or a full disk
// would have lost the list while the log said it was written.
void TestMainForm::exportThatCannotWriteSaysSo()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Hall"));
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("d.csv"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QElapsedTimer took;
    took.start();
    QVERIFY(!h.form->exportDeviceList(fifo, false));
    QVERIFY(took.elapsed() < 2000);
    QVERIFY(!h.form->exportDeviceList(QStringLiteral("/dev/full"), true));
    QCOMPARE(h.prompter.texts(),
             QStringList({QStringLiteral("cannot write %1: not a regular file").arg(fifo),
                          QStringLiteral("cannot write /dev/full: not a regular file")}));
    QCOMPARE(h.prompter.shown().first().caption, QStringLiteral("Error"));
    QVERIFY(!h.form->messageLog()->toPlainText().contains(QLatin1String("device list written")));
}

// "Serial port…" maps the selected module by its MAC, and tells how to give the unit a
// password when the module has one.
void TestMainForm::serialPortShowsTheSelectedModule()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.form->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Press Line 2", "Yes"));
    h.selectRow(1);
    QMenu* menu = h.form->deviceContextMenu();
    QAction* serial = nullptr;
    for (QAction* a : menu->actions())
        if (shown(a->text()) == QStringLiteral("Serial port\u2026"))
            serial = a;
    QVERIFY(serial);
    serial->trigger();
    delete menu;
    auto* dialog = h.form->findChild<TserialPortDlg*>(QStringLiteral("serialPortDlg"));
    QVERIFY(dialog);
    const QString text = dialog->text();
    QVERIFY2(text.contains(QStringLiteral("tarvanix-cli tty 02:00:00:00:00:02 --link "
                                          "/tmp/press-line-2")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("TARGET=02:00:00:00:00:02\\nGROUP=dialout\\n"
                                         "TARVANIX_PASSWORD=\\n' | sudo tee "
                                         "/etc/tarvanix/tty/press-line-2.conf")));
    QVERIFY(text.contains(QStringLiteral("systemctl enable --now tarvanix-tty@press-line-2")));
    QVERIFY(!text.contains(QStringLiteral("02:00:00:00:00:01")));
    dialog->close();
}

void TestMainForm::statusBarCountsAndCtrlCCopiesRows()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.form->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Boiler-Room"));
    h.form->addDevice(record("02:00:00:00:00:03", "198.51.100.9", "Press-Line-2", "Yes", ""));
    auto* counts = h.form->statusBar()->findChild<QLabel*>(QStringLiteral("deviceCounts"));
    QVERIFY(counts);
    QTRY_COMPARE(counts->text(), QStringLiteral("3 modules"));
    h.form->deviceFilter()->setText(QStringLiteral("press"));
    QTRY_COMPARE(counts->text(), QStringLiteral("3 modules, 2 shown"));
    QCOMPARE(TmainForm::deviceCountText(1, 1), QStringLiteral("1 module"));

    // Ctrl+C on the list: the selected row as shown, every cell (the empty
    // Device Mode and Status too), no captions.
    h.selectRow(1);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(h.form->deviceList(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("3\tPress-Line-2\t02:00:00:00:00:03\t198.51.100.9\tYes\tTVX-100\t\t"));

    // A 14-character name (the demo's longest) fits its column.
    const int nameColumn = 1 + CellDeviceName;
    const QFontMetrics metrics(h.form->deviceList()->font());
    QVERIFY(h.form->deviceList()->columnWidth(nameColumn)
            > metrics.horizontalAdvance(QStringLiteral("Warehouse-Gate")));
    QVERIFY(h.form->deviceList()->header()->stretchLastSection());
}

void TestMainForm::keysReachTheWindowWhateverHasFocus()
{
    // Also run under X11 (tst_mainform_x11), whose key bindings give a text
    // field Ctrl+U.
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.form->showDeviceActions(true);
    h.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
    QLineEdit* filter = h.form->deviceFilter();
    filter->setFocus();
    filter->setText(QStringLiteral("zz"));
    h.prompter.clear();
    // Ctrl+U is Upgrade, not an edit of the filter.
    QTest::keyClick(filter, Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(filter->text(), QStringLiteral("zz"));
    QCOMPARE(h.prompter.texts(), QStringList{QStringLiteral("please select a device first")});
    // Alt+F opens File and types nothing.
    auto* file = h.form->findChild<QMenu*>(QStringLiteral("File1"));
    QTest::keyClick(filter, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(file->isVisible());
    QCOMPARE(filter->text(), QStringLiteral("zz"));
    file->close();
    // Ctrl+Q ends the program like Exit.
    QTest::keyClick(filter, Qt::Key_Q, Qt::ControlModifier);
    QTRY_COMPARE(h.quitCalls, 1);
}

void TestMainForm::keyboardOpensTheRowMenu()
{
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.form->addDevice(record("02:00:00:00:00:02", "198.51.100.8", "Press-Line-2"));
    h.selectRow(1);
    QTreeView* list = h.form->deviceList();
    QSignalSpy requests(list, &QWidget::customContextMenuRequested);
    QStringList opened;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&opened] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            // Reachable from the application, as assistive technology looks
            // for it, and named there.
            QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
            QString found;
            for (int i = 0; i < app->childCount(); ++i) {
                QAccessibleInterface* child = app->child(i);
                if (child && child->object() == menu && child->role() == QAccessible::PopupMenu
                    && app->indexOfChild(child) == i)
                    found = child->text(QAccessible::Name) + QLatin1Char('|')
                        + child->text(QAccessible::Description);
            }
            opened << menu->objectName() + QLatin1Char('|') + found;
            menu->close();
        }
    });
    closer.start(10);
    // The menu key, as the window system hands it on (at the view's own idea
    // of the cursor, here a point outside every row), and Shift+F10.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(1, 1),
                              list->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(list, &menuKey);
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(requests.count(), 2);
    for (const auto& request : requests)
        QCOMPARE(list->indexAt(request.first().toPoint()).row(), 1);
    const QString expected = QStringLiteral(
        "deviceContextMenu|Module menu|Press-Line-2  198.51.100.8  02:00:00:00:00:02");
    QCOMPARE(opened, (QStringList{expected, expected}));
}

void TestMainForm::desktopActionsThatCannotStartSaySo()
{
    // The offscreen platform starts no browser or viewer: each action says so.
    Harness h;
    h.form->addDevice(record("02:00:00:00:00:01", "198.51.100.7", "Press-Line-1"));
    h.selectRow(0);
    h.prompter.clear();
    h.form->openWebConsole();
    QCOMPARE(
        h.prompter.texts(),
        QStringList{QStringLiteral("No web browser could be started for http://198.51.100.7/")});
    QCOMPARE(h.prompter.shown().first().subject,
             QStringLiteral("Press-Line-1  198.51.100.7  02:00:00:00:00:01"));
    h.prompter.clear();
    auto* manual = h.form->findChild<QAction*>(QStringLiteral("manualAction"));
    QVERIFY(manual);
    QCOMPARE(manual->shortcut(), QKeySequence(Qt::Key_F1));
    manual->trigger();
    QCOMPARE(h.prompter.count(), 1);
    QVERIFY(h.prompter.texts().first().contains(QStringLiteral("man tarvanix-utility")));
}

void TestMainForm::placementIsKeptBetweenRuns()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("tarvanix-utility.conf"));
    QRect placed;
    {
        Harness h(false);
        h.env.settings = std::make_shared<QSettings>(file, QSettings::IniFormat);
        h.start();
        h.form->setGeometry(QRect(40, 50, 700, 500));
        h.form->deviceList()->setColumnWidth(2, 150);
        placed = h.form->geometry();
        h.form->close();
    }
    Harness h(false);
    h.env.settings = std::make_shared<QSettings>(file, QSettings::IniFormat);
    h.start();
    QCOMPARE(h.form->geometry(), placed);
    QCOMPARE(h.form->deviceList()->columnWidth(2), 150);
    // Nothing but the placement and the widths is kept.
    QCOMPARE(h.env.settings->allKeys().size(),
             1 + h.form->deviceList()->model()->columnCount() - 1);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
