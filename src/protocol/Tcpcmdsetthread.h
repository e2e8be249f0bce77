#pragma once

#include "app/WorkerThread.h"
#include "net/HostNetwork.h"
#include "protocol/SettingsRecord.h"

namespace tvx {

// Writes a settings record back to its module: login, the write lines under
// their conditions, then "$SEI". Works on its own copy of the record; its
// result goes to the run's token (the configuration window's `writeResult`).
class TCPcmdsetThread : public WorkerThread {
public:
    TCPcmdsetThread(WorkerLink link, HostNetwork& net, const SettingsRecord& record,
                    const char* macText, const char* ipText);

protected:
    void execute() override;

private:
    HostNetwork& net_;
    SettingsRecord record_;
    char macText_[20] = {};
    char ipText_[20] = {};
};

} // namespace tvx
