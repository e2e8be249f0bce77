// The main window's double-click flow, beside the read worker.
#include "app/Mainfrm.h"

#include "handover/Prompter.h"
#include "handover/WorkerThread.h"
#include "protocol/SettingsRecord.h"
#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpprgfrm.h"

#include <cstring>

namespace tvx {

void TmainForm::deviceListViewDblClick()
{
    char ipText[20];
    char macText[20];
    const Selection selection = selectedDevice(ipText, macText);
    if (selection == Selection::None || selection == Selection::Incomplete)
        return;
    const PromptSubject subject(prompter(), selectedModuleLine());
    if (isDeviceOpen(macText)) {
        prompter().showError(QStringLiteral("already selected"));
        return;
    }
    TtcpPrgForm* progress = windows().tcpPrgForm;
    if (!progress)
        return;

    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    if (selection == Selection::WithPassword
        && !promptPassword(record.passwd, sizeof record.passwd))
        return;

    // The worker keeps its own record; this run's copy arrives here before
    // its result, and a cancelled run's copy is dropped with its other effects.
    auto token = std::make_shared<RunToken>();
    auto handOver = std::make_shared<SettingsRecord>();
    std::memset(handOver.get(), 0, sizeof *handOver);
    WorkerThread::start(std::make_unique<TCPcmdgetThread>(
        makeLink(token, progress, progress->barMaximum(), QString::fromLatin1(macText)),
        hostNetwork_, record, macText, ipText, handOver));

    if (!runModalOperation(progress, *token))
        return;
    const WorkerOutcome outcome = TCPcmdgetThread::outcome(token->result);
    if (!outcome.done()) {
        if (!outcome.message.isEmpty())
            prompter().showError(outcome.message);
        return;
    }
    // The address may be shared (factory defaults): a window for the module
    // that answered would save its settings under the row picked.
    const QString otherModule = TCPcmdgetThread::otherModuleMessage(ipText, macText, *handOver);
    if (!otherModule.isEmpty()) {
        prompter().showError(otherModule);
        return;
    }
    markDeviceOpen(macText, true);
    openConfigWindow(macText, *handOver);
}

} // namespace tvx
