#include "app/AppWindows.h"

#include "discovery/Prgfrm.h"
#include "discovery/Sipdlg.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradeprgfrm.h"
#include "firmware/Upgradepsswddlg.h"
#include "protocol/Passworddlg.h"
#include "protocol/Tcpprgfrm.h"

namespace tvx {

std::unique_ptr<TmainForm> createAppWindows(const AppEnvironment& env)
{
    auto mainForm = std::make_unique<TmainForm>(env);
    TmainForm::Windows w;
    w.udpPrgForm = new TudpPrgForm(mainForm.get());
    w.tcpPrgForm = new TtcpPrgForm(mainForm.get());
    w.PasswordDlg = new TPasswordDlg(mainForm.get());
    w.upgradeFWDlg = new TupgradeFWDlg(mainForm.get(), env.prompter);
    w.sIPDlg = new TsIPDlg(mainForm.get(), env.prompter);
    w.upgradePsswdDlg = new TupgradePsswdDlg(mainForm.get(), env.prompter);
    w.upgradePrgForm = new TupgradePrgForm(mainForm.get());
    mainForm->attachWindows(w);
    return mainForm;
}

} // namespace tvx
