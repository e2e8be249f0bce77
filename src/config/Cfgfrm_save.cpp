// The configuration window's save: "Save to Module" with its checks and the
// write worker, the password page and "Abort".
#include "config/Cfgfrm.h"

#include "app/Mainfrm.h"
#include "handover/Prompter.h"
#include "handover/RunToken.h"
#include "handover/WorkerThread.h"
#include "config/CfgCollect.h"
#include "config/RecordText.h"
#include "platform/Ipv4AddressEdit.h"
#include "protocol/Tcpcmdsetthread.h"
#include "protocol/Tcpprgfrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <memory>

namespace tvx {

CfgEntries TcfgForm::currentEntries() const
{
    // An address control that could not be created reads as an empty one
    // (0.0.0.0): the address and mask checks then refuse the save.
    const auto address = [this](int i) -> std::optional<uint32_t> {
        const Ipv4AddressEdit* c = ipControls_[static_cast<size_t>(i)];
        return c ? c->address() : 0u;
    };
    CfgEntries e;
    e.devName = Edit_devName->text();
    e.fmwVer = Edit_fmwVer->text();
    e.webEn = web_ChkBox->isChecked();
    e.diolp = diolp_Edit->text();
    e.baud = CmbBox_sp0_baud->currentIndex();
    e.parity = CmbBox_sp0_parity->currentIndex();
    e.dataBits = CmbBox_sp0_db->currentIndex();
    e.stopBits = CmbBox_sp0_sb->currentIndex();
    e.fc = CmbBox_sp0_fc->currentIndex();
    e.iface = CmbBox_sp0_if->currentIndex();
    e.dpStrOn = ChkBox_sp0_dp_str->isChecked();
    e.dpStr0 = Edit_sp0_dp_str0->text();
    e.dpStr1 = Edit_sp0_dp_str1->text();
    e.dpTmOn = ChkBox_sp0_dp_tm->isChecked();
    e.dpTm = Edit_sp0_dp_tm->text();
    e.dpLenOn = ChkBox_sp0_dp_len->isChecked();
    e.dpLen = Edit_sp0_dp_len->text();
    e.ipcfg = CmbBox_ipcfg->currentIndex();
    e.ip = address(0);
    e.mask = address(1);
    e.gw = address(2);
    e.pingEn = CkBox_pingEn->isChecked();
    e.mac = Edit_mac->text();
    e.lanStatus = Edit_LanStatus->text();
    e.opmode = CmbBox_sp0_opmode->currentIndex();
    e.tcpslport = Edit_sp0_tcpslport->text();
    e.remoteIp = address(3);
    e.tcpcrport = Edit_sp0_tcpcrport->text();
    e.tcpcat = CmbBox_sp0_tcpcat->currentIndex();
    return e;
}

bool TcfgForm::checkBeforeSave()
{
    const CollectResult result =
        collectEntries(currentEntries(), loadedEntries_, loadedRecord_, record_);
    switch (result.kind) {
    case CollectResult::Kind::Passed:
        return true;
    case CollectResult::Kind::NotAnInteger:
        mainForm_->appendLog(QStringLiteral("checkBeforeSave"));
        mainForm_->prompter().showError(result.message);
        return false;
    case CollectResult::Kind::Refused:
        mainForm_->prompter().showError(result.message);
        return false;
    }
    return false;
}

void TcfgForm::saveModuleBtnClick()
{
    if (!checkBeforeSave())
        return;
    if (!mainForm_->prompter().askConfirm(QStringLiteral("Are you sure to save settings to device?")))
        return;
    runSave();
}

void TcfgForm::runSave()
{
    TmainForm* mainForm = mainForm_;
    TtcpPrgForm* progress = mainForm->windows().tcpPrgForm;

    // The token is the window's `writeResult`: shared with the worker, it
    // stays valid for a cancelled worker that finishes after we have closed.
    auto token = std::make_shared<RunToken>();
    WorkerLink link = mainForm->makeLink(token, progress, 100);
    WorkerThread::start(std::make_unique<TCPcmdsetThread>(
        std::move(link), mainForm->hostNetwork(), record_, deviceMac_, deviceIp_));
    progress->prepare();
    progress->runModal(*token);

    const int writeResult = token->result;
    if (writeResult == 1) {
        token->requestStop();
        token->detach();
        close();
        return;
    }
    if (writeResult >= 0) {
        close();
        // This window is closing: only the main window is used from here on.
        if (mainForm->prompter().askFinished(
                QStringLiteral("Save to Module OK! \r\nDevice rebooting now! \r\n"
                               "Broadcast search to refresh table?")))
            mainForm->startSearch(true, nullptr);
        return;
    }
    const QString message = TCPcmdsetThread::resultMessage(writeResult);
    if (!message.isEmpty())
        mainForm->prompter().showError(message);
    close();
}

void TcfgForm::Save_BtnClick()
{
    const QString newPassword = Edit_newPasswd->text();
    if (newPassword != Edit_retryPasswd->text()) {
        // A mismatch also withdraws a password accepted earlier.
        record_.passwdChg = 0;
        mainForm_->prompter().showError(
            QStringLiteral("Confirm password isn't match for new password"));
        return;
    }
    record_.passwdChg = 1;
    storeField(record_.newPasswd, newPassword.toLatin1().left(8));
    mainForm_->prompter().showFinished(QStringLiteral("new password accepted"));
}

void TcfgForm::Cancel_BtnClick()
{
    record_.passwdChg = 0;
    Edit_newPasswd->clear();
    Edit_retryPasswd->clear();
}

} // namespace tvx
