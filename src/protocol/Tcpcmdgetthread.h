#pragma once

#include "handover/WorkerOutcome.h"
#include "handover/WorkerThread.h"
#include "net/HostNetwork.h"
#include "protocol/CommandConnection.h"
#include "protocol/SettingsRecord.h"

#include <memory>

namespace tvx {

// Reads all settings of one module: reach it, log in, walk the 25 read
// commands into a record of its own. The record stays the worker's until the
// run ends; on success a copy is handed to `handOver` on the UI thread before
// the result is stored, so a cancelled run that is still finishing never
// writes into anything the window is reading.
class TCPcmdgetThread : public WorkerThread {
public:
    // `record` carries the password for the login; `handOver` receives the
    // filled record (the window that started the run keeps it).
    TCPcmdgetThread(WorkerLink link, std::shared_ptr<HostNetwork> net, const SettingsRecord& record,
                    const char* macText, const char* ipText,
                    std::shared_ptr<SettingsRecord> handOver,
                    uint16_t port = CommandConnection::kCommandPort);

    // What the window shows for a failed read; empty for a stop or anything else.
    static QString resultMessage(int result);
    // How a run that stored `result` ended: done for a completed read (its
    // length of the last reply), failed for a negative code.
    static WorkerOutcome outcome(int result);
    // Empty when the read `record` may be the module picked at `ip` with
    // `pickedMac`; else what to tell the user: another module answered at
    // that address (two modules can share one, factory defaults).
    static QString otherModuleMessage(const char* ip, const char* pickedMac,
                                      const SettingsRecord& record);

    // Login and the read steps on a reached connection: the length of the
    // last reply text, or -2 stopped, -3 no usable reply or echo, -4 refused.
    static int readSequence(CommandConnection& connection, SettingsRecord& record,
                            WorkerLink& link);

protected:
    void execute() override;
    void afterException() override;

private:
    // Shared, so it outlives this worker whoever else lets go of it.
    std::shared_ptr<HostNetwork> net_;
    SettingsRecord record_;
    std::shared_ptr<SettingsRecord> handOver_;
    char macText_[20] = {};
    char ipText_[20] = {};
    uint16_t port_;
};

} // namespace tvx
