#pragma once

#include "handover/WorkerOutcome.h"
#include "handover/WorkerThread.h"
#include "net/HostNetwork.h"
#include "protocol/CommandConnection.h"
#include "protocol/SettingsRecord.h"

#include <memory>

namespace tvx {

// Writes a settings record back to its module: login, the write lines under
// their conditions, then "$SEI". Works on its own copy of the record and goes
// to the address and MAC it was given, whatever the window shows meanwhile;
// its result goes to the run's token (the configuration window's `writeResult`).
class TCPcmdsetThread : public WorkerThread {
public:
    TCPcmdsetThread(WorkerLink link, std::shared_ptr<HostNetwork> net, const SettingsRecord& record,
                    const char* macText, const char* ipText,
                    uint16_t port = CommandConnection::kCommandPort);

    // What the window shows for a failed write; empty for a stop or anything else.
    static QString resultMessage(int result);
    // How a run that stored `result` ended: done for an acknowledged write,
    // failed for a negative code. An unexpected error stores nothing, so the
    // run reads as left behind.
    static WorkerOutcome outcome(int result);

    // Login, the identity check, the write lines and "$SEI" on a reached
    // connection: the length of the last acknowledged reply text, or -2
    // stopped, -3 no usable reply or not acknowledged, -4 refused,
    // kOtherModuleResult another module answered (`otherModule` says which).
    static int writeSequence(CommandConnection& connection, const SettingsRecord& record,
                             WorkerLink& link, QString* otherModule = nullptr);
    // The write lines and "$SEI" on a connection already logged in and checked.
    static int writeLinesAndRestart(CommandConnection& connection, const SettingsRecord& record,
                                    WorkerLink& link);

protected:
    void execute() override;

private:
    // Shared, so it outlives this worker whoever else lets go of it.
    std::shared_ptr<HostNetwork> net_;
    SettingsRecord record_;
    char macText_[20] = {};
    char ipText_[20] = {};
    uint16_t port_;
};

} // namespace tvx
