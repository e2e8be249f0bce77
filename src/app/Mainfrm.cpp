#include "app/Mainfrm.h"

#include "app/ModuleTitle.h"
#include "discovery/DeviceRegistry.h"
#include "discovery/Sipdlg.h"
#include "firmware/FirmwareDialog.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradepsswddlg.h"
#include "handover/Prompter.h"
#include "handover/RecordText.h"
#include "handover/WorkerThread.h"
#include "net/SharedHostNetwork.h"
#include "protocol/Passworddlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QImageReader>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
const QString kRoot = QStringLiteral("Configurate");
const QString kBroadcast = QStringLiteral("Broadcast");
const QString kSearchByIp = QStringLiteral("Search by IP");
const QString kUpgrade = QStringLiteral("Upgrade");
const QString kReboot = QStringLiteral("Reboot");
const QRect kPlacement(337, 203, 785, 552);
} // namespace

TmainForm::TmainForm(const AppEnvironment& env, QWidget* parent) : QMainWindow(parent), env_(env)
{
    setObjectName(QStringLiteral("mainForm"));
    hostNetwork_ = makeSharedHostNetwork(env_.netTables, logSink());
    createControls();
}

TmainForm::~TmainForm()
{
    delete deskKeys_;
    FormDestroy();
}

void TmainForm::createControls()
{
    setWindowTitle(QStringLiteral("Tarvanix Utility v1.05"));
    resize(785, 552);
    move(kPlacement.topLeft());
    placeOnScreen();

    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    Exit1 = File1->addAction(QStringLiteral("E&xit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Exit1, &QAction::triggered, this, &TmainForm::Exit1Click);
    exportAction = new QAction(QStringLiteral("&Export device list\u2026"), File1);
    exportAction->setObjectName(QStringLiteral("exportAction"));
    File1->insertAction(Exit1, exportAction);
    File1->insertSeparator(Exit1);
    connect(exportAction, &QAction::triggered, this, &TmainForm::exportDeviceListClick);
    createDeviceMenu();
    createHelpMenu();

    setWindowIcon(QIcon(QStringLiteral(":/tarvanix/tarvanix-utility.png")));

    // The control bar is the band at the top; the tool bar inside it holds
    // the one button.
    ControlBar1 = addToolBar(QStringLiteral("ControlBar1"));
    ControlBar1->setObjectName(QStringLiteral("ControlBar1"));
    ControlBar1->setMovable(false);
    ControlBar1->setFloatable(false);
    ControlBar1->setFixedHeight(36);
    ControlBar1->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    ToolBar1 = new QToolBar(ControlBar1);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ControlBar1->addWidget(ToolBar1);
    exitBtn = new QToolButton(ToolBar1);
    exitBtn->setObjectName(QStringLiteral("exitBtn"));
    exitBtn->setText(QStringLiteral("E&xit"));
    // Drawn from the vector image where the svg plugin is there, so it stays
    // sharp when the desktop scales the window.
    const bool svg = QImageReader::supportedImageFormats().contains("svg");
    exitBtn->setIcon(
        QIcon(svg ? QStringLiteral(":/tarvanix/exit.svg") : QStringLiteral(":/tarvanix/exit.png")));
    exitBtn->setIconSize(QSize(16, 16));
    exitBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    exitBtn->setAutoRaise(true);
    exitBtn->setFixedSize(88, 24);
    ToolBar1->addWidget(exitBtn);
    connect(exitBtn, &QToolButton::clicked, this, &TmainForm::exitBtnClick);

    mainPanel = new QWidget(this);
    mainPanel->setObjectName(QStringLiteral("mainPanel"));
    setCentralWidget(mainPanel);
    auto* mainLayout = new QHBoxLayout(mainPanel);
    mainLayout->setContentsMargins(0, 0, 0, 0);

    mainSplitter = new QSplitter(Qt::Horizontal, mainPanel);
    mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    mainSplitter->setChildrenCollapsible(false);
    mainLayout->addWidget(mainSplitter);

    leftPanel = new QWidget(mainSplitter);
    leftPanel->setObjectName(QStringLiteral("leftPanel"));
    leftPanel->setMinimumWidth(10);
    auto* leftLayout = new QVBoxLayout(leftPanel);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    funcTreeView = new QTreeWidget(leftPanel);
    funcTreeView->setObjectName(QStringLiteral("funcTreeView"));
    funcTreeView->setHeaderHidden(true);
    funcTreeView->setIndentation(19);
    funcTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    funcTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    leftLayout->addWidget(funcTreeView);
    connect(funcTreeView, &QTreeWidget::itemClicked, this, [this] { funcTreeViewClick(); });

    rightPanel = new QWidget(mainSplitter);
    rightPanel->setObjectName(QStringLiteral("rightPanel"));
    rightPanel->setMinimumWidth(10);
    auto* rightLayout = new QVBoxLayout(rightPanel);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    gridSplitter = new QSplitter(Qt::Vertical, rightPanel);
    gridSplitter->setObjectName(QStringLiteral("gridSplitter"));
    gridSplitter->setChildrenCollapsible(false);
    deviceFilterEdit = new QLineEdit(rightPanel);
    deviceFilterEdit->setObjectName(QStringLiteral("deviceFilter"));
    deviceFilterEdit->setPlaceholderText(QStringLiteral("Filter by name, IP, MAC or model"));
    deviceFilterEdit->setClearButtonEnabled(true);
    rightLayout->addWidget(deviceFilterEdit);
    connect(deviceFilterEdit, &QLineEdit::textChanged, this, &TmainForm::applyDeviceFilter);
    rightLayout->addWidget(gridSplitter);

    createDeviceList(gridSplitter);

    msgMemo = new QPlainTextEdit(gridSplitter);
    msgMemo->setObjectName(QStringLiteral("msgMemo"));
    msgMemo->setReadOnly(true);
    msgMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    gridSplitter->setSizes({552 - 36 - 109 - 60, 109});
    gridSplitter->setStretchFactor(0, 1);
    gridSplitter->setStretchFactor(1, 0);

    // The tree keeps its width unless its longest item would be clipped.
    const int treeWidth = std::max(
        118,
        QFontMetrics(funcTreeView->font()).horizontalAdvance(QStringLiteral("Search by IP"))
            + 2 * 19 + 16);
    mainSplitter->setSizes({treeWidth, 785 - treeWidth});
    mainSplitter->setStretchFactor(0, 0);
    mainSplitter->setStretchFactor(1, 1);
    createDesktopHabits();
}

void TmainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TmainForm::FormShow()
{
    msgMemo->clear();
    buildFunctionTree();
    clearDevices();

    if (!env_.startSockets || !env_.startSockets()) {
        env_.prompter->showError(QStringLiteral("winsock startup failed"));
        networkReady_ = false;
        return;
    }
    hostNetwork_->clearLocalAddresses();
    if (hostNetwork_->refreshLocalAddresses() != 0) {
        env_.prompter->showError(QStringLiteral("get local ip failed"));
        networkReady_ = false;
        return;
    }
    if (env_.registerAddressControl && !env_.registerAddressControl()) {
        env_.prompter->showError(QStringLiteral("import common control failed"));
        networkReady_ = false;
        return;
    }
    networkReady_ = true;
    devices_->clearOpenDevices();
    searchBusy_ = false;
}

void TmainForm::buildFunctionTree()
{
    funcTreeView->clear();
    auto* root = new QTreeWidgetItem(funcTreeView, {kRoot});
    new QTreeWidgetItem(root, {kBroadcast});
    new QTreeWidgetItem(root, {kSearchByIp});
    funcTreeView->expandAll();
}

void TmainForm::showDeviceActions(bool show)
{
    const auto find = [this](const QString& text) {
        const auto found = funcTreeView->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    };
    upgradeAction->setEnabled(show);
    rebootAction->setEnabled(show);
    applyAction->setEnabled(show);
    if (show) {
        if (find(kUpgrade))
            return;
        QTreeWidgetItem* root = funcTreeView->topLevelItem(0);
        if (!root)
            return;
        new QTreeWidgetItem(root, {kUpgrade});
        new QTreeWidgetItem(root, {kReboot});
        root->setExpanded(true);
    } else {
        delete find(kUpgrade);
        delete find(kReboot);
    }
}

void TmainForm::appendLog(const QString& text)
{
    msgMemo->appendPlainText(text);
}

void TmainForm::selectRoot()
{
    if (QTreeWidgetItem* root = funcTreeView->topLevelItem(0)) {
        funcTreeView->clearSelection();
        funcTreeView->setCurrentItem(root);
        root->setSelected(true);
    }
}

void TmainForm::funcTreeViewClick()
{
    const auto selected = funcTreeView->selectedItems();
    runFunction(selected.isEmpty() ? QString() : selected.first()->text(0));
}

void TmainForm::runFunction(const QString& text)
{
    if (!networkReady_) {
        env_.prompter->showError(QStringLiteral("some error occur during network startup"));
        return;
    }
    if (text == kBroadcast) {
        if (!searchBusy_)
            startSearch(true, nullptr);
    } else if (text == kSearchByIp) {
        if (!searchBusy_ && windows_.sIPDlg) {
            if (windows_.sIPDlg->exec() == QDialog::Accepted) {
                char target[20] = {};
                const char* text = windows_.sIPDlg->ipAddressText();
                std::memcpy(target, text, strnlen(text, 19));
                if (target[0])
                    startSearch(false, target);
            }
        }
    } else if (text == kUpgrade) {
        dispatchUpgrade();
    } else if (text == kReboot) {
        dispatchReboot();
    }
    selectRoot();
}

namespace {
// A cell's first `maxChars` characters, one byte each.
void copyCell(char* out, size_t room, const QString& cell, qsizetype maxChars)
{
    storeField(out, room, cell.toLatin1().left(maxChars));
}
} // namespace

TmainForm::Selection TmainForm::selectedDevice(char ipText[20], char macText[20]) const
{
    std::memset(ipText, 0, 20);
    std::memset(macText, 0, 20);
    const int row = firstSelectedRow();
    if (row < 0)
        return Selection::None;
    copyCell(ipText, 20, deviceCell(row, CellIp), 20);
    copyCell(macText, 20, deviceCell(row, CellMac), 17);
    if (!ipText[0] || !macText[0])
        return Selection::Incomplete;
    return deviceCell(row, CellPassword) == QStringLiteral("Yes") ? Selection::WithPassword
                                                                  : Selection::Open;
}

bool TmainForm::promptPassword(char* out, size_t room)
{
    auto* dialog = windows_.PasswordDlg;
    if (!dialog)
        return false;
    dialog->clearPassword();
    int answer;
    {
        const ModuleTitle title(dialog, env_.prompter->subject());
        answer = dialog->exec();
    }
    if (answer != QDialog::Accepted)
        return false;
    const QString typed = dialog->password();
    if (typed.isEmpty()) {
        env_.prompter->showError(QStringLiteral("Password can't be blank"));
        return false;
    }
    copyCell(out, room, typed, 8);
    return true;
}

bool TmainForm::requestForSelectedDevice(DeviceRequest& request, bool& hasPassword)
{
    std::memset(&request, 0, sizeof request);
    const Selection selection = selectedDevice(request.ipText, request.macText);
    if (selection == Selection::None) {
        env_.prompter->showError(QStringLiteral("please select a device first"));
        return false;
    }
    if (selection == Selection::Incomplete)
        return false;
    if (isDeviceOpen(request.macText)) {
        env_.prompter->showError(QStringLiteral("please exit from configuration utility"));
        return false;
    }
    hasPassword = selection == Selection::WithPassword;
    return true;
}

void TmainForm::dispatchUpgrade()
{
    if (selectedDeviceCount() > 1)
        return batchUpgrade();
    DeviceRequest request;
    bool hasPassword = false;
    if (!requestForSelectedDevice(request, hasPassword))
        return;
    const PromptSubject subject(*env_.prompter, selectedModuleLine());
    FirmwareDialog* dialog = nullptr;
    if (hasPassword) {
        if (windows_.upgradePsswdDlg)
            windows_.upgradePsswdDlg->clearPassword();
        dialog = windows_.upgradePsswdDlg;
    } else {
        dialog = windows_.upgradeFWDlg;
    }
    if (!dialog)
        return;
    // The dialogs are reused: the module goes into the title and onto a line
    // of its own for this run only.
    int answer;
    {
        const ModuleTitle title(dialog, subject.line());
        dialog->setModuleLine(subject.line());
        answer = dialog->exec();
        dialog->setModuleLine(QString());
    }
    if (answer != QDialog::Accepted)
        return;
    if (hasPassword)
        copyCell(request.password, sizeof request.password,
                 windows_.upgradePsswdDlg->firmwarePassword(), 8);
    // The path in the file system's own encoding: a Latin-1 copy would turn
    // other characters into "?" and name another file. The dialog has
    // already refused a path longer than the field.
    storeField(request.firmwarePath, dialog->firmwarePathBytes());
    runUpgrade(request);
}

void TmainForm::dispatchReboot()
{
    if (selectedDeviceCount() > 1)
        return batchReboot();
    DeviceRequest request;
    bool hasPassword = false;
    if (!requestForSelectedDevice(request, hasPassword))
        return;
    const PromptSubject subject(*env_.prompter, selectedModuleLine());
    if (hasPassword && !promptPassword(request.password, sizeof request.password))
        return;
    if (!env_.prompter->askConfirm(QStringLiteral("Are you sure to reboot device?")))
        return;
    runReboot(request);
}

void TmainForm::exitBtnClick()
{
    close();
}

void TmainForm::Exit1Click()
{
    close();
}

void TmainForm::closeEvent(QCloseEvent* event)
{
    keepPlacement();
    FormClose();
    event->accept();
    // Configuration windows, a progress window or a message box may still be
    // open (a signal can arrive at any time): closing the main window ends the
    // program all the same. Modal waits on the stack unwind once this returns;
    // the workers are waited for after the event loop has ended.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w != this && w->isVisible())
            w->close();
    }
    if (env_.quitApplication)
        env_.quitApplication();
}

void TmainForm::FormClose()
{
    // Nothing to clean up in the sockets layer here. Every worker is told to
    // stop and loses its hold on the windows, so none of them prompts or
    // closes anything while the program ends; the program's WorkerOwner waits
    // for them once the event loop has ended.
    WorkerThread::stopAll();
}

void TmainForm::FormDestroy() {}

WorkerLink TmainForm::makeLink(const std::shared_ptr<RunToken>& token, ProgressView* view,
                               int barMaximum, const QString& module)
{
    WorkerLink link(token, view, env_.prompter, logSink(), barMaximum);
    if (!module.isEmpty())
        link.keepWhileRunning(devices_->hold(module));
    return link;
}

WorkerLink::LogFn TmainForm::logSink()
{
    // Made on the UI thread; a line that arrives after the window is gone is
    // dropped instead of touching it.
    return [window = QPointer<TmainForm>(this), alive = QPointer<const QObject>(this),
            uiThread = thread()](const QString& line) {
        if (QThread::currentThread() == uiThread) {
            if (window)
                window->msgMemo->appendPlainText(line);
            return;
        }
        // Through the workers' one queue, so the line keeps its place among
        // their other effects.
        WorkerLink::postToUiThread(alive,
                                   [window, line] { window->msgMemo->appendPlainText(line); });
    };
}

void TmainForm::placeOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    if (area.contains(kPlacement))
        return;
    // Room for the window manager's title bar, which move() places at the
    // given point.
    const int frame = 32;
    const QSize size = kPlacement.size().boundedTo(area.size() - QSize(0, frame));
    resize(size);
    const int x = std::clamp(kPlacement.x(), area.left(), area.right() + 1 - size.width());
    const int y = std::clamp(kPlacement.y(), area.top(), area.bottom() + 1 - size.height() - frame);
    move(x, y);
}

} // namespace tvx
