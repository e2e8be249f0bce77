// The main window's desktop habits: the Help menu with the manual on F1, the
// status bar's counts, the placement and column widths kept between runs,
// keys that reach the window whatever has the focus (the window's shortcuts
// past the filter field, Ctrl+C on the rows, the menu key and Shift+F10 for
// the row menu), and how the row menu and the list are named for assistive
// technology.
#include "app/AboutBox.h"
#include "app/Mainfrm.h"
#include "app/PopupAccessibility.h"

#include "discovery/DeviceListFilter.h"
#include "discovery/DeviceListText.h"
#include "discovery/DeviceRegistry.h"
#include "handover/Prompter.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <functional>

namespace tvx {

namespace {

const QString kGeometryKey = QStringLiteral("mainWindow/geometry");
const QString kWidthsGroup = QStringLiteral("deviceList/columnWidths");

// Where the manual may be, in this order: the README installed beside the
// program (`cmake --install`, the package), the package's, and the source
// tree's for a program run from its build tree.
QStringList manualCandidates()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QDir::cleanPath(QCoreApplication::applicationDirPath()
                                   + QStringLiteral("/" TARVANIX_DOC_RELATIVE_PATH));
    folders << QStringLiteral(TARVANIX_PACKAGE_DOC_DIR);
    QStringList files;
    for (const QString& folder : folders) {
        files << folder + QStringLiteral("/README.md");
        files << folder + QStringLiteral("/README.md.gz");
    }
    files << QStringLiteral(TARVANIX_SOURCE_README);
    return files;
}

// The window's own shortcuts win over a text field's editing keys (Ctrl+U
// would otherwise clear the filter rather than open Upgrade); a field keeps
// every key no shortcut of the window uses.
class WindowKeysFirst : public QObject {
public:
    WindowKeysFirst(QWidget* window, QObject* parent) : QObject(parent), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* action : window_->findChildren<QAction*>()) {
            if (action->isEnabled() && action->shortcuts().contains(pressed)) {
                event->ignore();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* window_;
};

// Hands a watched object's events to a function; true: consumed.
class EventHook : public QObject {
public:
    EventHook(std::function<bool(QEvent*)> hook, QObject* parent)
        : QObject(parent), hook_(std::move(hook))
    {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return hook_(event) || QObject::eventFilter(watched, event);
    }

private:
    std::function<bool(QEvent*)> hook_;
};

} // namespace

void TmainForm::createHelpMenu()
{
    QMenu* Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    QAction* manual = Help1->addAction(QStringLiteral("Tarvanix Utility &manual"));
    manual->setObjectName(QStringLiteral("manualAction"));
    manual->setShortcut(QKeySequence(Qt::Key_F1));
    connect(manual, &QAction::triggered, this, &TmainForm::openManual);
    Help1->addSeparator();
    QAction* about = Help1->addAction(QStringLiteral("&About Tarvanix Utility\u2026"));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, [this] { AboutBox::showFor(this); });
}

bool TmainForm::openManual()
{
    for (const QString& file : manualCandidates()) {
        if (QFileInfo(file).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
            return true;
    }
    env_.prompter->showError(
        QStringLiteral("The manual could not be opened: no README was found here, or no program "
                       "is set up to show it.\nIt is also the manual page: man tarvanix-utility"));
    return false;
}

void TmainForm::createDesktopHabits()
{
    // Counts under the list, kept up as rows arrive and the filter changes;
    // one update per turn of the event loop however many rows came.
    deviceCounts_ = new QLabel(this);
    deviceCounts_->setObjectName(QStringLiteral("deviceCounts"));
    statusBar()->addWidget(deviceCounts_);
    auto* countLater = new QTimer(this);
    countLater->setSingleShot(true);
    countLater->setInterval(0);
    connect(countLater, &QTimer::timeout, this, &TmainForm::updateDeviceCounts);
    const auto later = [countLater] { countLater->start(); };
    connect(deviceFilter_, &QAbstractItemModel::rowsInserted, this, later);
    connect(deviceFilter_, &QAbstractItemModel::rowsRemoved, this, later);
    connect(deviceFilter_, &QAbstractItemModel::modelReset, this, later);
    connect(deviceFilter_, &QAbstractItemModel::layoutChanged, this, later);
    connect(devices_, &QAbstractItemModel::rowsInserted, this, later);
    connect(devices_, &QAbstractItemModel::modelReset, this, later);
    updateDeviceCounts();

    installPopupAccessibility();
    auto* keys = new WindowKeysFirst(this, this);
    deviceFilterEdit->installEventFilter(keys);
    deviceFilterEdit->setAccessibleName(QStringLiteral("Filter"));
    deviceFilterEdit->setAccessibleDescription(
        QStringLiteral("Shows only the modules with a cell that contains this text"));
    deviceListView->setAccessibleName(QStringLiteral("Modules"));
    deviceListView->setAccessibleDescription(
        QStringLiteral("The modules found; Enter configures the selected one, the menu key or "
                       "Shift+F10 opens its menu"));
    funcTreeView->setAccessibleName(QStringLiteral("Functions"));
    msgMemo->setAccessibleName(QStringLiteral("Message log"));
    deskKeys_ = new EventHook([this](QEvent* event) { return deskKeyEvent(event); }, this);
    deviceListView->installEventFilter(deskKeys_);

    // A 14-character device name fits its column: 14 characters as wide as
    // the average letter, capitals included, or digit; the last column takes
    // the width that is left.
    QHeaderView* header = deviceListView->header();
    const QFontMetrics metrics(deviceListView->font());
    const QString sample =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    const int nameWidth = metrics.horizontalAdvance(sample) * 14 / int(sample.size()) + 8;
    const int nameColumn = 1 + CellDeviceName;
    deviceListView->setColumnWidth(nameColumn,
                                   std::max(deviceListView->columnWidth(nameColumn), nameWidth));
    header->setStretchLastSection(true);

    restorePlacement();
}

void TmainForm::updateDeviceCounts()
{
    if (deviceCounts_)
        deviceCounts_->setText(deviceCountText(deviceCount(), visibleDeviceCount()));
}

QString TmainForm::deviceCountText(int listed, int shown)
{
    QString text =
        listed == 1 ? QStringLiteral("1 module") : QStringLiteral("%1 modules").arg(listed);
    if (shown != listed)
        text += QStringLiteral(", %1 shown").arg(shown);
    return text;
}

QString TmainForm::selectedRowsText() const
{
    QList<int> rows;
    for (const QModelIndex& index : deviceListView->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return tabSeparatedRows(*deviceListView->model(), rows);
}

void TmainForm::copySelectedRows()
{
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void TmainForm::openRowMenuFromKeyboard()
{
    QModelIndex at = deviceListView->currentIndex();
    if (!at.isValid() || !deviceListView->selectionModel()->isRowSelected(at.row())) {
        const int row = firstSelectedRow();
        at = row >= 0 ? deviceListView->model()->index(row, 0) : QModelIndex();
    }
    if (!at.isValid())
        return;
    // Where a right-click on that row would have been, in the viewport's
    // coordinates like every other request of the view.
    emit deviceListView->customContextMenuRequested(deviceListView->visualRect(at).center());
}

bool TmainForm::deskKeyEvent(QEvent* event)
{
    if (event->type() == QEvent::ContextMenu) {
        // The menu key arrives as a context menu event from the keyboard,
        // placed where the view's cursor is; it is always the selected row's.
        if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Keyboard)
            return false;
        openRowMenuFromKeyboard();
        return true;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
        copySelectedRows();
        return true;
    }
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        openRowMenuFromKeyboard();
        return true;
    }
    return false;
}

void TmainForm::restorePlacement()
{
    if (!env_.settings)
        return;
    QSettings& settings = *env_.settings;
    if (const QByteArray geometry = settings.value(kGeometryKey).toByteArray(); !geometry.isEmpty())
        restoreGeometry(geometry);
    // By caption, so that a list with other columns keeps what it can.
    settings.beginGroup(kWidthsGroup);
    const QAbstractItemModel* model = deviceListView->model();
    for (int column = 0; column < model->columnCount(); ++column) {
        const QString caption = model->headerData(column, Qt::Horizontal).toString();
        const int width = settings.value(caption, 0).toInt();
        if (width > 0)
            deviceListView->setColumnWidth(column, width);
    }
    settings.endGroup();
}

void TmainForm::keepPlacement()
{
    if (!env_.settings)
        return;
    QSettings& settings = *env_.settings;
    settings.setValue(kGeometryKey, saveGeometry());
    settings.beginGroup(kWidthsGroup);
    const QAbstractItemModel* model = deviceListView->model();
    // The last column stretches: its width is the window's, not a choice.
    for (int column = 0; column + 1 < model->columnCount(); ++column)
        settings.setValue(model->headerData(column, Qt::Horizontal).toString(),
                          deviceListView->columnWidth(column));
    settings.endGroup();
    settings.sync();
}

} // namespace tvx
