#include "app/Mainfrm.h"

#include "app/AboutBox.h"
#include "app/ModuleTitle.h"
#include "config/DeviceListText.h"

#include "discovery/Sipdlg.h"
#include "firmware/FirmwareDialog.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradepsswddlg.h"
#include "handover/Prompter.h"
#include "handover/WorkerThread.h"
#include "net/Ipv4.h"
#include "net/SharedHostNetwork.h"
#include "protocol/Passworddlg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
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
const QColor kOpenRowColour(0, 0, 255);
const QColor kGridLineColour(0xd8, 0xd8, 0xd8);
const QRect kPlacement(337, 203, 785, 552);

// A device row: sorting by Number keeps the search's numbers in numeric order.
class DeviceItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == 0)
            return text(0).toInt() < other.text(0).toInt();
        return QTreeWidgetItem::operator<(other);
    }
};

// Draws each cell as the style does, then its right and bottom grid line.
// A selected row keeps the style's own highlight and highlighted text, which
// the style uses for an open (blue) row too.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(kGridLineColour);
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};
} // namespace

TmainForm::TmainForm(const AppEnvironment& env, QWidget* parent) : QMainWindow(parent), env_(env)
{
    setObjectName(QStringLiteral("mainForm"));
    hostNetwork_ = makeSharedHostNetwork(env_.netTables, logSink());
    createControls();
}

TmainForm::~TmainForm()
{
    FormDestroy();
}

void TmainForm::createControls()
{
    setWindowTitle(QStringLiteral("Tarvanix Utility v1.05"));
    resize(785, 552);
    move(kPlacement.topLeft());
    placeOnScreen();

    File1 = menuBar()->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Exit1 = File1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    connect(Exit1, &QAction::triggered, this, &TmainForm::Exit1Click);
    exportAction = new QAction(QStringLiteral("Export device list\u2026"), File1);
    exportAction->setObjectName(QStringLiteral("exportAction"));
    File1->insertAction(Exit1, exportAction);
    File1->insertSeparator(Exit1);
    connect(exportAction, &QAction::triggered, this, &TmainForm::exportDeviceListClick);
    createDeviceMenu();
    QMenu* Help1 = menuBar()->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    connect(Help1->addAction(QStringLiteral("About Tarvanix Utility\u2026")), &QAction::triggered,
            this, [this] { AboutBox::showFor(this); });

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
    exitBtn->setText(QStringLiteral("Exit"));
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

    deviceListView = new QTreeWidget(gridSplitter);
    deviceListView->setObjectName(QStringLiteral("deviceListView"));
    deviceListView->setRootIsDecorated(false);
    deviceListView->setItemsExpandable(false);
    deviceListView->setUniformRowHeights(true);
    deviceListView->setAllColumnsShowFocus(true);
    deviceListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    deviceListView->setSelectionMode(QAbstractItemView::SingleSelection);
    deviceListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The grid lines are drawn by a delegate: an item style sheet would hand
    // the rows to the style-sheet style, which draws a selected row as a pale
    // band with no readable text.
    deviceListView->setItemDelegate(new GridLineDelegate(deviceListView));
    // Some styles pale the highlight of an inactive window until white text
    // on it cannot be read: the selection keeps its active colours.
    QPalette listPalette = deviceListView->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        listPalette.setBrush(QPalette::Inactive, role, listPalette.brush(QPalette::Active, role));
    deviceListView->setPalette(listPalette);
    deviceListView->setHeaderLabels({QStringLiteral("Number"), QStringLiteral("Device Name"),
                                     QStringLiteral("MAC Address"), QStringLiteral("IP Address"),
                                     QStringLiteral("Password"), QStringLiteral("Model Name"),
                                     QStringLiteral("Device Mode")});
    // Fixed widths with empty space after the last column, as a report list has.
    deviceListView->header()->setStretchLastSection(false);
    // Where the desktop font is wider than the one these widths were made for,
    // a column grows just enough that a full MAC or IP address and the caption
    // stay readable; it never shrinks below its width.
    const int widths[] = {50, 82, 106, 95, 60, 82, 80};
    const QString samples[] = {QStringLiteral("Number"),
                               QString(),
                               QStringLiteral("00:00:00:00:00:00"),
                               QStringLiteral("255.255.255.255"),
                               QStringLiteral("Password"),
                               QString(),
                               QStringLiteral("Device Mode")};
    const QFontMetrics metrics(deviceListView->font());
    for (int i = 0; i < 7; ++i) {
        // Room for the sort arrow beside the caption as well.
        const int needed =
            samples[i].isEmpty() ? 0 : metrics.horizontalAdvance(samples[i]) + 12 + 14;
        deviceListView->setColumnWidth(i, std::max(widths[i], needed));
    }
    connect(deviceListView, &QTreeWidget::itemDoubleClicked, this,
            [this] { deviceListViewDblClick(); });
    // Sorted by Number until a header is clicked: the search's order.
    deviceListView->header()->setSortIndicator(0, Qt::AscendingOrder);
    deviceListView->setSortingEnabled(true);
    deviceListView->installEventFilter(this);
    deviceListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(deviceListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!deviceListView->itemAt(pos))
            return;
        QMenu* menu = deviceContextMenu();
        menu->exec(deviceListView->viewport()->mapToGlobal(pos));
        delete menu;
    });

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
    std::memset(openDeviceMacs, 0, sizeof openDeviceMacs);
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
    if (QThread::currentThread() != thread()) {
        // Through the workers' one queue, so the line keeps its place among
        // their other effects; a line that arrives after the window is gone
        // is dropped instead of touching it.
        WorkerLink::postToUiThread([window = QPointer<TmainForm>(this), text] {
            if (window)
                window->msgMemo->appendPlainText(text);
        });
        return;
    }
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
void copyBytes(char* out, size_t room, const QByteArray& bytes, size_t maxChars)
{
    std::memset(out, 0, room);
    std::memcpy(out, bytes.constData(),
                std::min<size_t>({static_cast<size_t>(bytes.size()), maxChars, room - 1}));
}

void copyCell(char* out, size_t room, const QString& cell, size_t maxChars)
{
    copyBytes(out, room, cell.toLatin1(), maxChars);
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
    copyBytes(request.firmwarePath, sizeof request.firmwarePath, dialog->firmwarePathBytes(), 255);
    runUpgrade(request);
}

void TmainForm::dispatchReboot()
{
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
    // closes anything while the program ends.
    WorkerThread::stopAll();
}

void TmainForm::FormDestroy() {}

bool TmainForm::drainWorkers(int maxMilliseconds)
{
    WorkerThread::stopAll();
    QElapsedTimer timer;
    timer.start();
    // Events keep flowing: a worker may be waiting for the UI thread to run
    // one of its effects before it can end.
    while (WorkerThread::liveCount() > 0 && timer.elapsed() < maxMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    return WorkerThread::liveCount() == 0;
}

WorkerLink TmainForm::makeLink(const std::shared_ptr<RunToken>& token, ProgressView* view,
                               int barMaximum)
{
    return WorkerLink(token, view, env_.prompter, logSink(), barMaximum);
}

WorkerLink::LogFn TmainForm::logSink()
{
    return [window = QPointer<TmainForm>(this), uiThread = thread()](const QString& line) {
        if (QThread::currentThread() == uiThread) {
            if (window)
                window->msgMemo->appendPlainText(line);
            return;
        }
        // Through the workers' one queue, so the line keeps its place among
        // their other effects.
        WorkerLink::postToUiThread([window, line] {
            if (window)
                window->msgMemo->appendPlainText(line);
        });
    };
}

// ---- device table ----

void TmainForm::clearDevices()
{
    deviceListView->clear();
    listedMacs.clear();
    listedAddresses.clear();
    hostNetwork_->clearSharedAddresses();
}

int TmainForm::deviceCount() const
{
    return deviceListView->topLevelItemCount();
}

void TmainForm::addDevice(const DiscoveryRecord& record)
{
    const QString mac =
        QString::fromLatin1(record.macText, static_cast<int>(strnlen(record.macText, 17)));
    // Rows leave the list only all at once.
    if (deviceListView->topLevelItemCount() == 0) {
        listedMacs.clear();
        listedAddresses.clear();
        hostNetwork_->clearSharedAddresses();
    }
    if (listedMacs.contains(mac))
        return;
    const auto text = [](const char* field, size_t room) {
        return QString::fromLatin1(field, static_cast<int>(strnlen(field, room)));
    };
    // The row is filled before it joins the list, so that the list learns of it
    // once, not once per cell: a search may add thousands in one go.
    QStringList cells(1 + 6);
    cells[0] = QString::number(deviceListView->topLevelItemCount() + 1);
    cells[1 + CellDeviceName] = text(record.deviceName, sizeof record.deviceName);
    cells[1 + CellMac] = text(record.macText, sizeof record.macText);
    cells[1 + CellIp] = text(record.ipText, sizeof record.ipText);
    cells[1 + CellPassword] = text(record.passwordState, sizeof record.passwordState);
    cells[1 + CellModel] = text(record.modelName, sizeof record.modelName);
    cells[1 + CellMode] = text(record.deviceMode, sizeof record.deviceMode);
    auto* item = new DeviceItem(cells);
    deviceListView->addTopLevelItem(item);
    listedMacs.insert(cells[1 + CellMac].left(17));
    const uint32_t address = parseIpv4(cells[1 + CellIp].toLatin1().constData(), false);
    if (listedAddresses.contains(address))
        hostNetwork_->markAddressShared(address);
    listedAddresses.insert(address);
    item->setHidden(!rowMatchesFilter(item, deviceFilterEdit->text()));
    // No other row's colour can have changed, and a new row has the list's
    // own colour unless its module's window is open. A sorted list may have
    // put the row anywhere.
    const int row = deviceListView->indexOfTopLevelItem(item);
    if (rowIsOpen(row))
        deviceListViewCustomDrawItem(row);
}

int TmainForm::firstSelectedRow() const
{
    for (int i = 0; i < deviceListView->topLevelItemCount(); ++i) {
        if (deviceListView->topLevelItem(i)->isSelected())
            return i;
    }
    return -1;
}

QString TmainForm::deviceCell(int row, DeviceCell cell) const
{
    const QTreeWidgetItem* item = deviceListView->topLevelItem(row);
    return item ? item->text(1 + cell) : QString();
}

int TmainForm::markDeviceOpen(const char* mac, bool open)
{
    int found = -1;
    for (int i = 0; i < 100; ++i) {
        if (openDeviceMacs[i][0] && std::strncmp(openDeviceMacs[i], mac, 17) == 0) {
            found = i;
            break;
        }
    }
    if (open) {
        if (found >= 0)
            return -1;
        for (auto& slot : openDeviceMacs) {
            if (!slot[0]) {
                std::memset(slot, 0, sizeof slot);
                std::strncpy(slot, mac, 17);
                break;
            }
        }
    } else if (found >= 0) {
        openDeviceMacs[found][0] = '\0';
    }
    repaintDeviceList();
    return 0;
}

int TmainForm::isDeviceOpen(const char* mac) const
{
    for (const auto& slot : openDeviceMacs) {
        if (slot[0] && std::strncmp(slot, mac, 17) == 0)
            return -1;
    }
    return 0;
}

bool TmainForm::rowIsOpen(int row) const
{
    const QByteArray mac = deviceCell(row, CellMac).toLatin1();
    return !mac.isEmpty() && isDeviceOpen(mac.constData()) != 0;
}

void TmainForm::repaintDeviceList()
{
    for (int i = 0; i < deviceListView->topLevelItemCount(); ++i)
        deviceListViewCustomDrawItem(i);
}

void TmainForm::deviceListViewCustomDrawItem(int row)
{
    QTreeWidgetItem* item = deviceListView->topLevelItem(row);
    if (!item)
        return;
    // A row without all six cells keeps the list's own colour.
    const bool open = item->columnCount() >= 1 + 6 && rowIsOpen(row);
    for (int c = 0; c < item->columnCount(); ++c) {
        if (open)
            item->setForeground(c, QBrush(kOpenRowColour));
        else
            item->setData(c, Qt::ForegroundRole, QVariant());
    }
}

QColor TmainForm::deviceRowColour(int row) const
{
    const QTreeWidgetItem* item = deviceListView->topLevelItem(row);
    if (!item)
        return {};
    const QVariant v = item->data(1 + CellMac, Qt::ForegroundRole);
    return v.isValid() ? v.value<QBrush>().color()
                       : deviceListView->palette().color(QPalette::Text);
}

// ---- menus, filter, export ----

void TmainForm::createDeviceMenu()
{
    deviceMenu = menuBar()->addMenu(QStringLiteral("Device"));
    deviceMenu->setObjectName(QStringLiteral("deviceMenu"));
    const auto add = [this](const QString& text, const QKeySequence& keys, auto run) {
        QAction* action = deviceMenu->addAction(text);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    add(kBroadcast, QKeySequence(Qt::Key_F5), [this] { runFunction(kBroadcast); });
    add(kSearchByIp, QKeySequence(Qt::CTRL | Qt::Key_I), [this] { runFunction(kSearchByIp); });
    deviceMenu->addSeparator();
    add(QStringLiteral("Configure"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { deviceListViewDblClick(); });
    upgradeAction =
        add(kUpgrade, QKeySequence(Qt::CTRL | Qt::Key_U), [this] { runFunction(kUpgrade); });
    rebootAction =
        add(kReboot, QKeySequence(Qt::CTRL | Qt::Key_R), [this] { runFunction(kReboot); });
    // As the tree: Upgrade and Reboot only once a search has found modules.
    upgradeAction->setEnabled(false);
    rebootAction->setEnabled(false);
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

bool TmainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == deviceListView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && firstSelectedRow() >= 0) {
            deviceListViewDblClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TmainForm::selectedModuleLine() const
{
    const int row = firstSelectedRow();
    if (row < 0)
        return {};
    return QStringLiteral("%1  %2  %3")
        .arg(deviceCell(row, CellDeviceName), deviceCell(row, CellIp), deviceCell(row, CellMac));
}

bool TmainForm::rowMatchesFilter(const QTreeWidgetItem* item, const QString& text)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return true;
    for (int c = 0; c < item->columnCount(); ++c) {
        if (item->text(c).contains(wanted, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void TmainForm::applyDeviceFilter(const QString& text)
{
    for (int i = 0; i < deviceListView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = deviceListView->topLevelItem(i);
        const bool match = rowMatchesFilter(item, text);
        item->setHidden(!match);
        if (!match)
            item->setSelected(false);
    }
}

QMenu* TmainForm::deviceContextMenu()
{
    auto* menu = new QMenu(deviceListView);
    menu->setObjectName(QStringLiteral("deviceContextMenu"));
    connect(menu->addAction(QStringLiteral("Configure")), &QAction::triggered, this,
            [this] { deviceListViewDblClick(); });
    QAction* upgrade = menu->addAction(kUpgrade);
    upgrade->setEnabled(upgradeAction->isEnabled());
    connect(upgrade, &QAction::triggered, this, [this] { runFunction(kUpgrade); });
    QAction* reboot = menu->addAction(kReboot);
    reboot->setEnabled(rebootAction->isEnabled());
    connect(reboot, &QAction::triggered, this, [this] { runFunction(kReboot); });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Copy IP address")), &QAction::triggered, this,
            [this] { copySelectedCell(CellIp); });
    connect(menu->addAction(QStringLiteral("Copy MAC address")), &QAction::triggered, this,
            [this] { copySelectedCell(CellMac); });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Open web console")), &QAction::triggered, this,
            &TmainForm::openWebConsole);
    return menu;
}

void TmainForm::copySelectedCell(DeviceCell cell)
{
    const int row = firstSelectedRow();
    if (row >= 0)
        QGuiApplication::clipboard()->setText(deviceCell(row, cell));
}

void TmainForm::openWebConsole()
{
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(deviceCell(row, CellIp));
    url.setPath(QStringLiteral("/"));
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

bool TmainForm::exportDeviceList(const QString& path, bool json)
{
    QList<QStringList> rows;
    for (int i = 0; i < deviceListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = deviceListView->topLevelItem(i);
        if (item->isHidden())
            continue;
        QStringList row;
        for (int c = 0; c < 7; ++c)
            row << item->text(c);
        rows << row;
    }
    QFile file(path);
    const QByteArray bytes = json ? deviceListJson(rows) : deviceListCsv(rows);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        env_.prompter->showError(
            QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    appendLog(QStringLiteral("device list written to %1").arg(path));
    return true;
}

void TmainForm::exportDeviceListClick()
{
    const QString csv = QStringLiteral("CSV (*.csv)");
    const QString json = QStringLiteral("JSON (*.json)");
    QString chosen;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export device list"),
                                                QStringLiteral("devices.csv"),
                                                csv + QStringLiteral(";;") + json, &chosen);
    if (path.isEmpty())
        return;
    const bool asJson =
        chosen == json || path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    exportDeviceList(path, asJson);
}

} // namespace tvx
