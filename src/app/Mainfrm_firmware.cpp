// The main window's upgrade and reboot operations, beside their workers.
#include "app/Mainfrm.h"
#include "app/ModuleTitle.h"

#include "firmware/Rebootthread.h"
#include "firmware/Upgradefwthread.h"
#include "firmware/Upgradeprgfrm.h"
#include "handover/Prompter.h"
#include "handover/WorkerThread.h"

namespace tvx {

void TmainForm::runUpgrade(const DeviceRequest& request)
{
    TupgradePrgForm* form = windows_.upgradePrgForm;
    if (!form)
        return;
    const ModuleTitle title(form, prompter().subject());
    auto token = std::make_shared<RunToken>();
    WorkerThread::start(std::make_unique<upgradeFwThread>(
        makeLink(token, form, form->barMaximum(), QString::fromLatin1(request.macText)),
        hostNetwork_, request));

    // A cancelled run reports nothing.
    if (!runModalOperation(form, *token))
        return;
    const WorkerOutcome outcome =
        WorkerOutcome::ofRun(upgradeFwThread::outcome(token->result), *token);
    if (outcome.done()) {
        if (prompter().askFinished(upgradeFwThread::successQuestion()))
            startSearch(true, nullptr);
        return;
    }
    if (!outcome.message.isEmpty())
        prompter().showError(outcome.message);
}

void TmainForm::runReboot(const DeviceRequest& request)
{
    TupgradePrgForm* form = windows_.upgradePrgForm;
    if (!form)
        return;
    const ModuleTitle title(form, prompter().subject());
    auto token = std::make_shared<RunToken>();
    WorkerThread::start(std::make_unique<rebootThread>(
        makeLink(token, form, form->barMaximum(), QString::fromLatin1(request.macText)),
        hostNetwork_, request));

    if (!runModalOperation(form, *token))
        return;
    const WorkerOutcome outcome =
        WorkerOutcome::ofRun(rebootThread::outcome(token->result), *token);
    if (outcome.done()) {
        if (prompter().askFinished(rebootThread::successQuestion()))
            startSearch(true, nullptr);
        return;
    }
    if (!outcome.message.isEmpty())
        prompter().showError(outcome.message);
}

} // namespace tvx
