// The configuration window's load: the record read from the module put into
// the controls, when the window is first shown.
#include "config/Cfgfrm.h"

#include "config/CfgLoad.h"
#include "handover/Prompter.h"
#include "handover/RecordText.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>

namespace tvx {

void TcfgForm::FormShow()
{
    // Taken before anything can be edited: the write goes where the module
    // was read, whatever address the user enters.
    storeField(deviceIp_, fieldBytes(record_.lanIp));
    storeField(deviceMac_, fieldBytes(record_.lanMac));

    createAddressControls();
    record_.passwdChg = 0;

    const CfgEntries entries = entriesFromRecord(record_);
    loading_ = true;
    applyEntries(entries);
    loading_ = false;

    // What the controls hold now is "as loaded"; the collection compares with
    // it to tell values nobody touched.
    loadedRecord_ = record_;
    loadedEntries_ = currentEntries();
    loadedEntries_.baudExtra = entries.baudExtra;
    loadedEntries_.baudKept = entries.baudKept;
    loadedEntries_.fcKept = entries.fcKept;
    loadedEntries_.ifaceKept = entries.ifaceKept;
    loadedEntries_.opmodeKept = entries.opmodeKept;
}

void TcfgForm::createAddressControls()
{
    struct Place {
        QWidget* container;
        int left;
        int top;
    };
    const Place places[4] = {{Panel4, 12, 8}, {Panel4, 12, 38}, {Panel4, 12, 68}, {Panel2, 10, 8}};
    for (int i = 0; i < 4; ++i) {
        int error = 0;
        Ipv4AddressEdit* control = createAddressControl_(places[i].container, error);
        ipControls_[static_cast<size_t>(i)] = control;
        if (!control) {
            if (links_.prompter)
                prompter().showError(QStringLiteral("create ip control failed: %1").arg(error));
            continue;
        }
        control->setObjectName(QStringLiteral("ipControl%1").arg(i));
        control->setGeometry(places[i].left, places[i].top, 130, 21);
        control->show();
    }

    // Created after everything else, so they are put into the tab order by
    // hand: the three network addresses after the IP mode, the remote IP
    // before the remote port.
    QWidget* previous = CmbBox_ipcfg;
    for (int i = 0; i < 3; ++i) {
        if (Ipv4AddressEdit* c = ipControls_[static_cast<size_t>(i)]) {
            setTabOrder(previous, c->field(0));
            previous = c->field(3);
        }
    }
    setTabOrder(previous, CkBox_pingEn);
    if (Ipv4AddressEdit* c = ipControls_[3]) {
        setTabOrder(c->field(3), Edit_sp0_tcpcrport);
    }
}

void TcfgForm::destroyAddressControls()
{
    for (auto& control : ipControls_) {
        delete control;
        control = nullptr;
    }
}

void TcfgForm::applyEntries(const CfgEntries& e)
{
    if (!e.devName.isEmpty())
        setModuleText(Edit_devName, e.devName);
    Edit_fmwVer->setText(e.fmwVer);
    web_ChkBox->setChecked(e.webEn);
    setModuleText(diolp_Edit, e.diolp);

    if (!e.baudExtra.isEmpty())
        CmbBox_sp0_baud->addItem(e.baudExtra);
    CmbBox_sp0_baud->setCurrentIndex(e.baud);
    CmbBox_sp0_parity->setCurrentIndex(e.parity);
    CmbBox_sp0_db->setCurrentIndex(e.dataBits);
    CmbBox_sp0_sb->setCurrentIndex(e.stopBits);
    CmbBox_sp0_fc->setCurrentIndex(e.fc);
    CmbBox_sp0_if->setCurrentIndex(e.iface);

    ChkBox_sp0_dp_str->setChecked(e.dpStrOn);
    setEditActive(Edit_sp0_dp_str0, e.dpStrOn);
    setEditActive(Edit_sp0_dp_str1, e.dpStrOn);
    if (e.dpStrOn) {
        setModuleText(Edit_sp0_dp_str0, e.dpStr0);
        setModuleText(Edit_sp0_dp_str1, e.dpStr1);
    }
    ChkBox_sp0_dp_tm->setChecked(e.dpTmOn);
    setEditActive(Edit_sp0_dp_tm, e.dpTmOn);
    if (e.dpTmOn)
        setModuleText(Edit_sp0_dp_tm, e.dpTm);
    ChkBox_sp0_dp_len->setChecked(e.dpLenOn);
    setEditActive(Edit_sp0_dp_len, e.dpLenOn);
    if (e.dpLenOn)
        setModuleText(Edit_sp0_dp_len, e.dpLen);

    const std::optional<uint32_t> addresses[3] = {e.ip, e.mask, e.gw};
    for (int i = 0; i < 3; ++i) {
        Ipv4AddressEdit* c = ipControls_[static_cast<size_t>(i)];
        if (c && addresses[i])
            c->setAddress(*addresses[i]);
    }
    CkBox_pingEn->setChecked(e.pingEn);
    CmbBox_ipcfg->setCurrentIndex(e.ipcfg);
    setAddressControlsEnabled(e.ipcfg != cfgitems::kIpModeDhcp);

    Edit_mac->setText(e.mac);
    Edit_LanStatus->setText(e.lanStatus);

    Panel0_tcps->hide();
    Panel0_tcpc->hide();
    CmbBox_sp0_opmode->setCurrentIndex(e.opmode);
    if (e.opmodeKept) {
        // A mode the box has no item for shows as read: it goes back as read.
        CmbBox_sp0_opmode->setPlaceholderText(fieldText(record_.sp0_opmode));
    }
    showOperationPanel(e.opmode);

    if (!e.tcpslport.isEmpty())
        setModuleText(Edit_sp0_tcpslport, e.tcpslport);
    if (!e.tcpcrport.isEmpty())
        setModuleText(Edit_sp0_tcpcrport, e.tcpcrport);
    if (e.remoteIp && ipControls_[3])
        ipControls_[3]->setAddress(*e.remoteIp);
    CmbBox_sp0_tcpcat->setCurrentIndex(e.tcpcat);
}

} // namespace tvx
