// The main window's upgrade and reboot operations, beside their workers.
#include "app/Mainfrm.h"

#include "handover/Prompter.h"
#include "handover/WorkerThread.h"
#include "firmware/Rebootthread.h"
#include "firmware/Upgradefwthread.h"
#include "firmware/Upgradeprgfrm.h"

namespace tvx {

namespace {
// Shows the progress window modally while the worker runs. The run's result,
// or 1 when the user cancelled: the worker is then asked to stop and its later
// effects are dropped, and nothing is reported.
int waitForWorker(TmainForm& mainForm, TupgradePrgForm& form,
                  const std::shared_ptr<RunToken>& token)
{
    form.prepare();
    form.runModal(*token);
    if (token->result == 1) {
        token->requestStop();
        token->detach();
        return 1;
    }
    if (form.isVisible()) {
        form.closeProgress();
        mainForm.repaint();
    }
    return token->result;
}
} // namespace

void TmainForm::runUpgrade(const DeviceRequest& request)
{
    TupgradePrgForm* form = windows_.upgradePrgForm;
    if (!form)
        return;
    auto token = std::make_shared<RunToken>();
    token->result = 1;
    WorkerThread::start(std::make_unique<upgradeFwThread>(
        makeLink(token, form, form->barMaximum()), hostNetwork(), request));

    const int result = waitForWorker(*this, *form, token);
    if (result == 0) {
        if (prompter().askFinished(upgradeFwThread::successQuestion()))
            startSearch(true, nullptr);
        return;
    }
    const QString message = upgradeFwThread::resultMessage(result);
    if (!message.isEmpty())
        prompter().showError(message);
}

void TmainForm::runReboot(const DeviceRequest& request)
{
    TupgradePrgForm* form = windows_.upgradePrgForm;
    if (!form)
        return;
    auto token = std::make_shared<RunToken>();
    token->result = 1;
    WorkerThread::start(std::make_unique<rebootThread>(makeLink(token, form, form->barMaximum()),
                                                       hostNetwork(), request));

    const int result = waitForWorker(*this, *form, token);
    if (result == 0) {
        if (prompter().askFinished(rebootThread::successQuestion()))
            startSearch(true, nullptr);
        return;
    }
    const QString message = rebootThread::resultMessage(result);
    if (!message.isEmpty())
        prompter().showError(message);
}

} // namespace tvx
