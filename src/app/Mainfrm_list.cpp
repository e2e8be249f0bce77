// The main window's device list: the view of the registry, its menus, its
// filter and its export. Which modules are listed, numbered, shared or open is
// the registry's to say; this file only shows it.
#include "app/Mainfrm.h"

#include "app/SerialPortDialog.h"
#include "discovery/DeviceListFilter.h"
#include "discovery/DeviceListText.h"
#include "discovery/DeviceRegistry.h"
#include "handover/Prompter.h"
#include "platform/DocumentsPath.h"
#include "platform/RegularFile.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace tvx {

namespace {
const QColor kOpenRowColour(0, 0, 255);
const QColor kGridLineColour(0xd8, 0xd8, 0xd8);

// Draws each cell as the style does, then its right and bottom grid line. The
// row of an open module is drawn in blue; a selected row keeps the style's
// own highlight and highlighted text, which the style uses for an open row too.
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

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(DeviceRegistry::OpenRole).toBool())
            option->palette.setColor(QPalette::Text, kOpenRowColour);
    }
};
} // namespace

void TmainForm::createDeviceList(QWidget* parent)
{
    devices_ = new DeviceRegistry(hostNetwork_, this);
    devices_->setObjectName(QStringLiteral("deviceRegistry"));
    deviceFilter_ = new DeviceListFilter(this);
    deviceFilter_->setSourceModel(devices_);

    deviceListView = new QTreeView(parent);
    deviceListView->setObjectName(QStringLiteral("deviceListView"));
    deviceListView->setModel(deviceFilter_);
    deviceListView->setRootIsDecorated(false);
    deviceListView->setItemsExpandable(false);
    deviceListView->setUniformRowHeights(true);
    deviceListView->setAllColumnsShowFocus(true);
    deviceListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Several rows for Reboot, Upgrade and "Apply settings file…"; every
    // other action takes the first selected row.
    deviceListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
    for (int i = 0; i < DeviceRegistry::kColumns; ++i) {
        // Room for the sort arrow beside the caption as well.
        const int needed =
            samples[i].isEmpty() ? 0 : metrics.horizontalAdvance(samples[i]) + 12 + 14;
        deviceListView->setColumnWidth(i, std::max(widths[i], needed));
    }
    // Room for "upgrading… 100%" and the start of a failure's message, whose
    // whole text is the cell's tool tip.
    deviceListView->setColumnWidth(
        DeviceRegistry::Status,
        std::max(130, metrics.horizontalAdvance(QStringLiteral("failed: login to device")) + 12));
    connect(deviceListView, &QAbstractItemView::doubleClicked, this,
            [this] { deviceListViewDblClick(); });
    // Sorted by Number until a header is clicked: the search's order.
    deviceListView->header()->setSortIndicator(0, Qt::AscendingOrder);
    deviceListView->setSortingEnabled(true);
    deviceListView->installEventFilter(this);
    deviceListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(deviceListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!deviceListView->indexAt(pos).isValid())
            return;
        QMenu* menu = deviceContextMenu();
        menu->exec(deviceListView->viewport()->mapToGlobal(pos));
        delete menu;
    });
}

// ---- device table ----

void TmainForm::clearDevices()
{
    devices_->clear();
}

int TmainForm::deviceCount() const
{
    return devices_->count();
}

int TmainForm::visibleDeviceCount() const
{
    return deviceFilter_->rowCount();
}

void TmainForm::addDevice(const DiscoveryRecord& record)
{
    devices_->addDevice(record);
}

int TmainForm::registryRow(int row) const
{
    const QModelIndex shown = deviceFilter_->index(row, 0);
    return shown.isValid() ? deviceFilter_->mapToSource(shown).row() : -1;
}

int TmainForm::firstSelectedRow() const
{
    int first = -1;
    for (const QModelIndex& index : deviceListView->selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return first;
}

void TmainForm::selectDeviceRow(int row)
{
    const QModelIndex index = deviceFilter_->index(row, 0);
    deviceListView->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    deviceListView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

QString TmainForm::deviceCell(int row, DeviceCell cell) const
{
    return devices_->cell(registryRow(row), static_cast<DeviceRegistry::Column>(1 + cell));
}

int TmainForm::markDeviceOpen(const char* mac, bool open)
{
    return devices_->markDeviceOpen(mac, open);
}

int TmainForm::isDeviceOpen(const char* mac) const
{
    return devices_->isDeviceOpen(mac);
}

QColor TmainForm::deviceRowColour(int row) const
{
    const QModelIndex index = deviceFilter_->index(row, 0);
    if (!index.isValid())
        return {};
    return index.data(DeviceRegistry::OpenRole).toBool()
        ? kOpenRowColour
        : deviceListView->palette().color(QPalette::Text);
}

// ---- menus, filter, export ----

void TmainForm::createDeviceMenu()
{
    deviceMenu = menuBar()->addMenu(QStringLiteral("&Device"));
    deviceMenu->setObjectName(QStringLiteral("deviceMenu"));
    const auto add = [this](const QString& text, const QKeySequence& keys, auto run) {
        QAction* action = deviceMenu->addAction(text);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    add(QStringLiteral("&Broadcast"), QKeySequence(Qt::Key_F5),
        [this] { runFunction(QStringLiteral("Broadcast")); });
    add(QStringLiteral("Search by &IP"), QKeySequence(Qt::CTRL | Qt::Key_I),
        [this] { runFunction(QStringLiteral("Search by IP")); });
    deviceMenu->addSeparator();
    add(QStringLiteral("&Configure"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { deviceListViewDblClick(); });
    upgradeAction = add(QStringLiteral("&Upgrade"), QKeySequence(Qt::CTRL | Qt::Key_U),
                        [this] { runFunction(QStringLiteral("Upgrade")); });
    rebootAction = add(QStringLiteral("&Reboot"), QKeySequence(Qt::CTRL | Qt::Key_R),
                       [this] { runFunction(QStringLiteral("Reboot")); });
    applyAction = add(QStringLiteral("Apply settings file\u2026"), QKeySequence(),
                      [this] { applySettingsFile(); });
    applyAction->setObjectName(QStringLiteral("applyAction"));
    // As the tree: Upgrade and Reboot only once a search has found modules.
    upgradeAction->setEnabled(false);
    rebootAction->setEnabled(false);
    applyAction->setEnabled(false);
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
    return moduleLine(deviceCell(row, CellDeviceName), deviceCell(row, CellIp),
                      deviceCell(row, CellMac));
}

void TmainForm::applyDeviceFilter(const QString& text)
{
    // The view would move the selection to a neighbour of a row the filter
    // hides: the selection is kept by module, and only where it stays shown.
    QStringList selected;
    for (const QModelIndex& index : deviceListView->selectionModel()->selectedRows())
        selected << index.data(DeviceRegistry::MacRole).toString();
    deviceListView->selectionModel()->clear();
    deviceFilter_->setFilterText(text);
    for (const QString& mac : selected) {
        const int row = devices_->rowOfMac(mac);
        const QModelIndex shown = deviceFilter_->mapFromSource(devices_->index(row, 0));
        if (shown.isValid())
            deviceListView->selectionModel()->select(
                shown, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QMenu* TmainForm::deviceContextMenu()
{
    // Without a parent widget, so that assistive technology finds it where it
    // looks for windows, among the application's children; its name says
    // what it is for.
    auto* menu = new QMenu;
    menu->setObjectName(QStringLiteral("deviceContextMenu"));
    menu->setTitle(QStringLiteral("Module"));
    menu->setAccessibleName(QStringLiteral("Module menu"));
    menu->setAccessibleDescription(selectedModuleLine());
    connect(menu->addAction(QStringLiteral("&Configure")), &QAction::triggered, this,
            [this] { deviceListViewDblClick(); });
    QAction* upgrade = menu->addAction(QStringLiteral("&Upgrade"));
    upgrade->setEnabled(upgradeAction->isEnabled());
    connect(upgrade, &QAction::triggered, this, [this] { runFunction(QStringLiteral("Upgrade")); });
    QAction* reboot = menu->addAction(QStringLiteral("&Reboot"));
    reboot->setEnabled(rebootAction->isEnabled());
    connect(reboot, &QAction::triggered, this, [this] { runFunction(QStringLiteral("Reboot")); });
    QAction* apply = menu->addAction(applyAction->text());
    apply->setEnabled(applyAction->isEnabled());
    connect(apply, &QAction::triggered, this, &TmainForm::applySettingsFile);
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Copy &IP address")), &QAction::triggered, this,
            [this] { copySelectedCell(CellIp); });
    connect(menu->addAction(QStringLiteral("Copy &MAC address")), &QAction::triggered, this,
            [this] { copySelectedCell(CellMac); });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Open &web console")), &QAction::triggered, this,
            &TmainForm::openWebConsole);
    connect(menu->addAction(QStringLiteral("&Serial port\u2026")), &QAction::triggered, this,
            [this] {
                if (const int row = firstSelectedRow(); row >= 0)
                    (new TserialPortDlg(this, deviceCell(row, CellDeviceName),
                                        deviceCell(row, CellIp), deviceCell(row, CellMac),
                                        deviceCell(row, CellPassword) == QLatin1String("Yes")))
                        ->show();
            });
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
    // Where no browser is set up the desktop cannot say so itself.
    const PromptSubject subject(*env_.prompter, selectedModuleLine());
    if (url.isValid() && !QDesktopServices::openUrl(url))
        env_.prompter->showError(
            QStringLiteral("No web browser could be started for %1").arg(url.toString()));
}

bool TmainForm::exportDeviceList(const QString& path, bool json)
{
    // The rows as they are shown: in the list's order, without those the
    // filter hides.
    QList<int> rows;
    for (int i = 0; i < visibleDeviceCount(); ++i)
        rows << registryRow(i);
    const QByteArray bytes =
        json ? deviceListJson(*devices_, rows) : deviceListCsv(*devices_, rows);
    if (const QString error = writeRegularFile(path, bytes); !error.isEmpty()) {
        env_.prompter->showError(QStringLiteral("cannot write ") + error);
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
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export device list"),
        suggestedFilePath(QStringLiteral("devices"), QStringLiteral("csv")),
        csv + QStringLiteral(";;") + json, &chosen);
    if (path.isEmpty())
        return;
    const bool asJson =
        chosen == json || path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    exportDeviceList(path, asJson);
}

} // namespace tvx
