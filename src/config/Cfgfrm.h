#pragma once

#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"

#include <QWidget>

#include <QString>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace tvx {

class FilePicker;
class HostNetwork;
class Ipv4AddressEdit;
class Prompter;
class WindowPrompter;
class TtcpPrgForm;

// What a configuration window uses from the program around it, given rather
// than looked up, so a window can be built without a main window.
struct CfgFormLinks {
    Prompter* prompter = nullptr;
    std::shared_ptr<HostNetwork> network;
    // The progress window of the write.
    TtcpPrgForm* progress = nullptr;
    // The message log; the write worker writes to it from its thread.
    std::function<void(const QString&)> log;
    // "Broadcast search to refresh table?" answered Yes after a save.
    std::function<void()> searchAgain;
    // The window closes: its module no longer counts as open.
    std::function<void(const char* macText)> moduleClosed;
    // Whatever keeps the module known while the window lives (its shared
    // address, for one); released with the window.
    std::shared_ptr<void> moduleHold;
    // The module as the window's prompts name it (device name, IP, MAC);
    // empty: as the record read from it names it.
    QString moduleLine;
};

// The configuration window of one module: a modeless window, one per opened
// module, that shows the settings read from it, keeps dependent controls
// consistent, and on "Save to Module" checks and collects the entries into its
// own copy of the record and hands that copy to the write worker. Its source is
// split by concern: construction and lifecycle (Cfgfrm.cpp), the load
// (Cfgfrm_load.cpp), the control dependencies (Cfgfrm_depend.cpp), the save
// with the password page (Cfgfrm_save.cpp) and the settings files
// (Cfgfrm_file.cpp). The rules themselves live outside the window (CfgLoad,
// CfgCollect, SettingsEdit).
class TcfgForm : public QWidget {
    Q_OBJECT
public:
    // Creates one address control in `parent`; may fail with nullptr and an
    // error number. The default cannot fail; tests give one that does.
    using AddressControlFactory = std::function<Ipv4AddressEdit*(QWidget* parent, int& error)>;

    TcfgForm(QWidget* parent, CfgFormLinks links, const char* macText, const SettingsRecord& record,
             AddressControlFactory createAddressControl = {});
    ~TcfgForm() override;

    // The window's copy of the record: as loaded, then as collected.
    const SettingsRecord& record() const { return record_; }
    // The four address controls (IP address, subnet mask, gateway, remote IP);
    // nullptr before the load, after the close, or when creation failed.
    Ipv4AddressEdit* addressControl(int index) const;

    // Event handlers, named after their control and event.
    void FormShow();
    void FormClose();
    void CmbBox_ipcfgChange();
    void CmbBox_sp0_opmodeChange();
    void ChkBox_sp0_dp_lenClick();
    void ChkBox_sp0_dp_tmClick();
    void ChkBox_sp0_dp_strClick();
    // The handlers of a second serial port, which this window does not have.
    void CmbBox_sp1_opmodeChange();
    void ChkBox_sp1_dp_lenClick();
    void ChkBox_sp1_dp_tmClick();
    void ChkBox_sp1_dp_strClick();
    void saveModuleBtnClick();
    void Save_BtnClick();
    void Cancel_BtnClick();
    void abortBtnClick();
    // Cfgfrm_file.cpp: settings files in the CLI's JSON format.
    void saveFileBtnClick();
    void loadFileBtnClick();

    // The file dialogs; tests give one that answers for the user.
    void setFilePicker(FilePicker* picker) { picker_ = picker; }

    // The module this window is for, as its prompts name it.
    QString moduleLine() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Cfgfrm_fit.cpp: the fixed-geometry pages in a scroll area, the buttons
    // below it, the window's first place and its name for assistive
    // technology.
    void createScrollArea();
    void layoutFrame();
    void placeOnScreen();
    void describeForAssistiveTechnology();
    // Every box this window shows: its own, naming its module.
    Prompter& prompter();

    // Cfgfrm.cpp: construction.
    void createControls();
    void createInfoPanel();
    void createBasicPage(QWidget* page);
    void createOperationPage(QWidget* page);
    void createSerialArea(QWidget* area);
    void createPasswordPage(QWidget* page);
    void connectHandlers();

    // Cfgfrm_load.cpp
    void createAddressControls();
    void applyEntries(const CfgEntries& e);
    void destroyAddressControls();

    // Cfgfrm_depend.cpp
    void setAddressControlsEnabled(bool enabled);
    void showOperationPanel(int opmode);
    void setEditActive(QLineEdit* edit, bool active);
    // Puts a text read from the module into `edit` whole, also when it is
    // longer than the user may type there.
    static void setModuleText(QLineEdit* edit, const QString& text);

    // Cfgfrm_file.cpp
    void createFileControls();
    void writeLog(const QString& text) const
    {
        if (links_.log)
            links_.log(text);
    }
    FilePicker& filePicker();

    // Cfgfrm_save.cpp
    CfgEntries currentEntries() const;
    bool checkBeforeSave();
    void runSave();

    CfgFormLinks links_;
    SettingsRecord record_;
    // The record and the entries as the load left them.
    SettingsRecord loadedRecord_;
    CfgEntries loadedEntries_;
    // Where the module was when it was read; the write goes there.
    char deviceIp_[20] = {};
    char deviceMac_[20] = {};
    // The MAC under which the main window counts this window as open.
    char openedMac_[20] = {};
    AddressControlFactory createAddressControl_;
    bool shownOnce_ = false;
    bool closed_ = false;
    // Selecting items during the load runs no change handler.
    bool loading_ = false;

    std::shared_ptr<WindowPrompter> prompter_;
    QScrollArea* cfgScroll = nullptr;
    QWidget* cfgPage = nullptr;
    QFrame* infoPanel = nullptr;
    QLabel* Image1 = nullptr;
    QLineEdit* Edit_fmwVer = nullptr;
    QLineEdit* Edit_devName = nullptr;
    QTabWidget* PageControl_cfg = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QPushButton* saveModuleBtn = nullptr;
    QPushButton* abortBtn = nullptr;

    QGroupBox* GrpBox_ns = nullptr;
    QComboBox* CmbBox_ipcfg = nullptr;
    QFrame* Panel4 = nullptr;
    QCheckBox* CkBox_pingEn = nullptr;
    QLineEdit* Edit_mac = nullptr;
    QLineEdit* Edit_LanStatus = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* web_ChkBox = nullptr;
    QLineEdit* diolp_Edit = nullptr;

    QTabWidget* PageControl_op = nullptr;
    QWidget* TabSheet_sp0 = nullptr;
    QFrame* Panel0_net = nullptr;
    QFrame* Panel0_ser = nullptr;
    QComboBox* CmbBox_sp0_opmode = nullptr;
    QFrame* Panel0_tcps = nullptr;
    QLineEdit* Edit_sp0_tcpslport = nullptr;
    QFrame* Panel0_tcpc = nullptr;
    QFrame* Panel2 = nullptr;
    QLineEdit* Edit_sp0_tcpcrport = nullptr;
    QComboBox* CmbBox_sp0_tcpcat = nullptr;
    QComboBox* CmbBox_sp0_baud = nullptr;
    QComboBox* CmbBox_sp0_parity = nullptr;
    QComboBox* CmbBox_sp0_db = nullptr;
    QComboBox* CmbBox_sp0_sb = nullptr;
    QComboBox* CmbBox_sp0_fc = nullptr;
    QComboBox* CmbBox_sp0_if = nullptr;
    QCheckBox* ChkBox_sp0_dp_len = nullptr;
    QLineEdit* Edit_sp0_dp_len = nullptr;
    QCheckBox* ChkBox_sp0_dp_tm = nullptr;
    QLineEdit* Edit_sp0_dp_tm = nullptr;
    QCheckBox* ChkBox_sp0_dp_str = nullptr;
    QLineEdit* Edit_sp0_dp_str0 = nullptr;
    QLineEdit* Edit_sp0_dp_str1 = nullptr;

    QLineEdit* Edit_newPasswd = nullptr;
    QLineEdit* Edit_retryPasswd = nullptr;
    QPushButton* Save_Btn = nullptr;
    QPushButton* Cancel_Btn = nullptr;

    // IP address, subnet mask, gateway, remote IP.
    std::array<Ipv4AddressEdit*, 4> ipControls_{};

    QPushButton* saveFileBtn = nullptr;
    QPushButton* loadFileBtn = nullptr;
    QCheckBox* CkBox_fileAddress = nullptr;
    FilePicker* picker_ = nullptr;
    std::unique_ptr<FilePicker> ownPicker_;
};

} // namespace tvx
