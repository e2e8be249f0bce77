#pragma once

#include "handover/DeviceRecords.h"
#include "handover/RunToken.h"
#include "handover/WorkerLink.h"
#include "net/HostNetwork.h"

#include <QColor>
#include <QCoreApplication>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QEvent;
class QLabel;
class QLineEdit;
class QPoint;
class QMenu;
class QPlainTextEdit;
class QSettings;
class QSplitter;
class QToolBar;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace tvx {

class DeviceListFilter;
class DeviceRegistry;
class FilePicker;
class NetTables;
class ProgressView;
class Prompter;
class TudpPrgForm;
class TtcpPrgForm;
class TPasswordDlg;
class TupgradeFWDlg;
class TsIPDlg;
class TupgradePsswdDlg;
class TupgradePrgForm;
struct CfgFormLinks;
struct SettingsRecord;

// What the main window needs from outside: the prompts, the host's tables and
// the start-up steps whose failure paths are kept although they cannot fail
// here (tests make them fail).
struct AppEnvironment {
    Prompter* prompter = nullptr;
    // Shared with the host network, so the tables outlive every worker.
    std::shared_ptr<NetTables> netTables;
    std::function<bool()> startSockets = [] { return true; };
    std::function<bool()> registerAddressControl = [] { return true; };
    // Ends the event loop once the main window has closed; tests record it.
    std::function<void()> quitApplication = [] { QCoreApplication::quit(); };
    // Where the window's placement and the list's column widths are kept
    // from one run to the next (nothing else is); none: nothing is kept.
    std::shared_ptr<QSettings> settings;
};

// Device list sub-items (cells after the row caption).
enum DeviceCell {
    CellDeviceName = 0,
    CellMac = 1,
    CellIp = 2,
    CellPassword = 3,
    CellModel = 4,
    CellMode = 5
};

// The main window: function tree, device list and message log, and the
// dispatcher of the tree. The modules it lists, and which of them are open,
// are the core's DeviceRegistry, which the list shows through a filter; the
// list's view, menus and export are in Mainfrm_list.cpp. The operations it
// starts are implemented beside their workers (search, read, upgrade and
// reboot), each in its own source file.
class TmainForm : public QMainWindow {
    Q_OBJECT
public:
    TmainForm(const AppEnvironment& env, QWidget* parent = nullptr);
    ~TmainForm() override;

    // The other start-up windows, created after this one.
    struct Windows {
        TudpPrgForm* udpPrgForm = nullptr;
        TtcpPrgForm* tcpPrgForm = nullptr;
        TPasswordDlg* PasswordDlg = nullptr;
        TupgradeFWDlg* upgradeFWDlg = nullptr;
        TsIPDlg* sIPDlg = nullptr;
        TupgradePsswdDlg* upgradePsswdDlg = nullptr;
        TupgradePrgForm* upgradePrgForm = nullptr;
    };
    void attachWindows(const Windows& windows) { windows_ = windows; }
    const Windows& windows() const { return windows_; }

    // Start-up initialisation, run when the window is first shown.
    void FormShow();
    void funcTreeViewClick();
    void exitBtnClick();
    void Exit1Click();

    void buildFunctionTree();
    void showDeviceActions(bool show);
    // UI thread. Workers write through logSink().
    void appendLog(const QString& text);

    // Device table. Rows are counted as the list shows them: sorted and
    // filtered (deviceCount counts every module listed).
    DeviceRegistry& devices() { return *devices_; }
    void addDevice(const DiscoveryRecord& record);
    void clearDevices();
    int deviceCount() const;
    int visibleDeviceCount() const;
    int firstSelectedRow() const; // -1 when none
    void selectDeviceRow(int row);
    QString deviceCell(int row, DeviceCell cell) const;
    // The first selected row's IP and MAC texts (zero-filled, at most 19 and
    // 17 characters) and whether its "Password" cell reads "Yes".
    enum class Selection { None, Incomplete, Open, WithPassword };
    Selection selectedDevice(char ipText[20], char macText[20]) const;
    // Asks for a module's password; false when cancelled or left blank (the
    // latter with "Password can't be blank"). At most 8 characters go to `out`.
    bool promptPassword(char* out, size_t room);
    int markDeviceOpen(const char* mac, bool open);
    int isDeviceOpen(const char* mac) const;
    // The text colour a row is drawn in: blue while its module is open.
    QColor deviceRowColour(int row) const;

    // Operations implemented beside their workers.
    void startSearch(bool broadcast, const char* target);
    void deviceListViewDblClick();
    void runUpgrade(const DeviceRequest& request);
    void runReboot(const DeviceRequest& request);
    // Opens a new configuration window for a module whose settings were read.
    void openConfigWindow(const char* macText, const SettingsRecord& record);
    // What a configuration window is given: the prompts, the host network,
    // the write's progress window, the log, a new search and the table of
    // open modules.
    CfgFormLinks configWindowLinks();

    // Several selected modules at once (Mainfrm_batch.cpp): one confirmation
    // naming them, one password prompt per module that has one, then a few
    // at a time (as the CLI's --jobs), each row's Status telling how it
    // went and the log the summary. Reboot and Upgrade come here when more
    // than one row is selected; "Apply settings file…" always does.
    void batchReboot();
    void batchUpgrade();
    void applySettingsFile();
    // The selected rows, in list order.
    QList<int> selectedRows() const;
    int selectedDeviceCount() const;
    // The main window's file dialogs; tests put their own in.
    void setFilePicker(FilePicker* picker) { filePicker_ = picker; }
    FilePicker& filePicker();

    // A hand-over for one run of a worker that drives `view`; `module` is
    // held until the worker has ended.
    WorkerLink makeLink(const std::shared_ptr<RunToken>& token, ProgressView* view, int barMaximum,
                        const QString& module = {});
    // The message log as workers write to it (any thread): it never touches
    // the window off the UI thread, and drops lines once the window is gone,
    // so a worker may keep it longer than the window lives.
    WorkerLink::LogFn logSink();

    HostNetwork& hostNetwork() { return *hostNetwork_; }
    // What a worker holds: the host network stays while any worker uses it.
    std::shared_ptr<HostNetwork> sharedHostNetwork() const { return hostNetwork_; }
    Prompter& prompter() { return *env_.prompter; }
    bool networkReady() const { return networkReady_; }
    bool searchBusy() const { return searchBusy_; }
    void setSearchBusy(bool busy) { searchBusy_ = busy; }

    QTreeWidget* funcTree() const { return funcTreeView; }
    QTreeView* deviceList() const { return deviceListView; }
    QPlainTextEdit* messageLog() const { return msgMemo; }
    QLineEdit* deviceFilter() const { return deviceFilterEdit; }

    // What a function-tree item does, by its text, with the tree's checks;
    // the Device menu and its shortcuts run the same.
    void runFunction(const QString& text);
    // The selected module as the prompts name it: device name, IP and MAC.
    QString selectedModuleLine() const;
    // Shows only the rows with a cell containing `text` (any case); a hidden
    // row loses its selection, so no action reaches a module out of sight.
    void applyDeviceFilter(const QString& text);
    // The selected row's right-click menu, built anew; the caller shows it
    // and deletes it.
    QMenu* deviceContextMenu();
    void copySelectedCell(DeviceCell cell);
    void openWebConsole();
    // Writes the visible rows, in their current order; false when the file
    // cannot be written (after saying so).
    bool exportDeviceList(const QString& path, bool json);

    // Mainfrm_help.cpp. F1: the README in the desktop's viewer; false (after
    // saying so) when there is none or nothing to show it with.
    bool openManual();
    // The selected rows as Ctrl+C copies them: tab-separated, in list order.
    QString selectedRowsText() const;
    void copySelectedRows();
    // The status bar's text: "12 modules, 3 shown" ("12 modules" unfiltered).
    static QString deviceCountText(int listed, int shown);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createDeviceList(QWidget* parent);
    void createDeviceMenu();
    void placeOnScreen();
    // Mainfrm_help.cpp
    void createHelpMenu();
    void createDesktopHabits();
    void updateDeviceCounts();
    void openRowMenuFromKeyboard();
    bool deskKeyEvent(QEvent* event);
    void restorePlacement();
    void keepPlacement();
    void exportDeviceListClick();
    void FormClose();
    void FormDestroy();
    void selectRoot();
    bool requestForSelectedDevice(DeviceRequest& request, bool& hasPassword);
    void dispatchUpgrade();
    void dispatchReboot();
    // The registry's row shown at list row `row`; -1 when none.
    int registryRow(int row) const;

    AppEnvironment env_;
    std::shared_ptr<HostNetwork> hostNetwork_;
    // Hands the list's keys to deskKeyEvent; gone before the list is, so a
    // list being destroyed never calls into a window that already is.
    QObject* deskKeys_ = nullptr;
    Windows windows_;

    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* exportAction = nullptr;
    QMenu* deviceMenu = nullptr;
    QAction* upgradeAction = nullptr;
    QAction* rebootAction = nullptr;
    QAction* applyAction = nullptr;
    QLineEdit* deviceFilterEdit = nullptr;
    QToolBar* ControlBar1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* exitBtn = nullptr;
    QWidget* mainPanel = nullptr;
    QWidget* leftPanel = nullptr;
    QTreeWidget* funcTreeView = nullptr;
    QSplitter* mainSplitter = nullptr;
    QWidget* rightPanel = nullptr;
    QTreeView* deviceListView = nullptr;
    DeviceRegistry* devices_ = nullptr;
    DeviceListFilter* deviceFilter_ = nullptr;
    QSplitter* gridSplitter = nullptr;
    QPlainTextEdit* msgMemo = nullptr;
    QLabel* deviceCounts_ = nullptr;
    FilePicker* filePicker_ = nullptr;

    bool shownOnce_ = false;
    bool networkReady_ = false;
    bool searchBusy_ = false;
};

} // namespace tvx
