#pragma once

#include "handover/WorkerOutcome.h"
#include "handover/WorkerThread.h"
#include "net/HostNetwork.h"
#include "protocol/CommandConnection.h"
#include "protocol/SettingsRecord.h"

#include <functional>
#include <memory>
#include <optional>

namespace tvx {

// Reads a module's settings and writes what its caller makes of them on the
// same connection and login: the read sequence, the check that the module
// read is the one picked, the caller's decision, then the write lines and
// "$SEI". One connection costs the module one connect pause instead of two;
// the windows keep their separate read and write.
class TCPcmdupdateThread : public WorkerThread {
public:
    // Runs on the UI thread with the settings as read: the record to write,
    // or nothing to leave the module as it is.
    using Decide = std::function<std::optional<SettingsRecord>(const SettingsRecord& asRead)>;

    // `login` carries the password for the login.
    TCPcmdupdateThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                       const SettingsRecord& login, const char* macText, const char* ipText,
                       Decide decide, uint16_t port = CommandConnection::kCommandPort);

    // The result codes: above 0 written (the write's), 0 read and left as it
    // is, -1 not reached, -2 stopped, -3 no usable reply, -4 login refused,
    // kOtherModuleResult another module answered (its detail says which).
    static WorkerOutcome outcome(int result);

protected:
    void execute() override;
    void afterException() override;

private:
    int update(CommandConnection& connection, QString& detail);

    std::shared_ptr<HostNetwork> net_;
    SettingsRecord record_;
    Decide decide_;
    char macText_[20] = {};
    char ipText_[20] = {};
    uint16_t port_;
};

} // namespace tvx
