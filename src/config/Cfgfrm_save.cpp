// The configuration window's save: "Save to Module" with its checks and the
// write worker, the password page and "Abort".
#include "config/Cfgfrm.h"

#include "config/CfgCollect.h"
#include "handover/Prompter.h"
#include "handover/RecordText.h"
#include "handover/RunToken.h"
#include "handover/WindowPrompter.h"
#include "handover/WorkerLink.h"
#include "handover/WorkerThread.h"
#include "protocol/Tcpcmdsetthread.h"
#include "protocol/Tcpprgfrm.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <memory>
#include <utility>

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
        if (links_.log)
            links_.log(QStringLiteral("checkBeforeSave"));
        prompter().showError(result.message);
        return false;
    case CollectResult::Kind::Refused:
        prompter().showError(result.message);
        return false;
    }
    return false;
}

void TcfgForm::saveModuleBtnClick()
{
    if (!checkBeforeSave())
        return;
    if (!prompter().askConfirm(QStringLiteral("Are you sure to save settings to device?")))
        return;
    runSave();
}

void TcfgForm::runSave()
{
    TtcpPrgForm* progress = links_.progress;

    // The token is the window's `writeResult`: shared with the worker, it
    // stays valid for a cancelled worker that finishes after we have closed.
    auto token = std::make_shared<RunToken>();
    // The worker's boxes are this window's; its prompter and the module's
    // hold stay for as long as the worker runs, also after the window is gone.
    WorkerLink link(token, progress, prompter_.get(), links_.log, 100);
    link.keepWhileRunning(std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<void>>>(
        links_.moduleHold, prompter_));
    WorkerThread::start(std::make_unique<TCPcmdsetThread>(std::move(link), links_.network, record_,
                                                          deviceMac_, deviceIp_));
    bool ended;
    {
        // Over this window, not the main window, which would otherwise come
        // to the front when the progress window closes.
        const ProgressLoan loan(progress, this);
        ended = runModalOperation(progress, *token);
    }
    if (!ended) {
        close();
        return;
    }

    const WorkerOutcome outcome =
        WorkerOutcome::ofRun(TCPcmdsetThread::outcome(token->result), *token);
    if (outcome.done()) {
        // This window is closing: only what it was given is used from here on.
        const CfgFormLinks links = links_;
        const std::shared_ptr<WindowPrompter> prompter = prompter_;
        close();
        if (prompter->askFinished(QStringLiteral("Save to Module OK! \r\nDevice rebooting now! \r\n"
                                                 "Broadcast search to refresh table?"))
            && links.searchAgain)
            links.searchAgain();
        return;
    }
    if (!outcome.message.isEmpty())
        prompter().showError(outcome.message);
    // Another module answered and nothing was written: the entries stay, so
    // that the user can try again or save them to a file.
    if (outcome.code == kOtherModuleResult)
        return;
    close();
}

void TcfgForm::Save_BtnClick()
{
    const QString newPassword = Edit_newPasswd->text();
    if (newPassword != Edit_retryPasswd->text()) {
        // A mismatch also withdraws a password accepted earlier.
        record_.passwdChg = 0;
        prompter().showError(QStringLiteral("Confirm password isn't match for new password"));
        return;
    }
    record_.passwdChg = 1;
    storeField(record_.newPasswd, newPassword.toLatin1().left(8));
    prompter().showFinished(QStringLiteral("new password accepted"));
}

void TcfgForm::Cancel_BtnClick()
{
    record_.passwdChg = 0;
    Edit_newPasswd->clear();
    Edit_retryPasswd->clear();
}

} // namespace tvx
