#pragma once

#include "handover/DeviceRecords.h"
#include "handover/WorkerOutcome.h"
#include "handover/WorkerThread.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace tvx {

class CommandConnection;
class HostNetwork;

// Restarts one module: reaches it, logs in and sends "$SER". What the module
// answers to the command does not matter; a module that restarts at once may
// never answer. The result goes to the run's token, the main window's
// operationResult.
class rebootThread : public WorkerThread {
public:
    // `commandPort` is the module's; only tests on loopback change it.
    rebootThread(WorkerLink link, std::shared_ptr<HostNetwork> net, const DeviceRequest& request,
                 uint16_t commandPort = 23);

    // What runReboot shows for a failure code; empty for "nothing".
    static QString resultMessage(int code);
    // How a run that stored `code` ended: done for 0 only.
    static WorkerOutcome outcome(int code);
    static const QString& successQuestion();

protected:
    void execute() override;
    void afterException() override;

private:
    int reboot(CommandConnection& connection, QString& otherModule);

    // Shared, so it outlives this worker whoever else lets go of it.
    std::shared_ptr<HostNetwork> net_;
    char password_[20] = {};
    char ipText_[20] = {};
    char macText_[20] = {};
    uint16_t commandPort_;
};

} // namespace tvx
