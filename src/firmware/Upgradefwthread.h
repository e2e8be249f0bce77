#pragma once

#include "firmware/FirmwareTransfer.h"
#include "handover/DeviceRecords.h"
#include "handover/WorkerOutcome.h"
#include "handover/WorkerThread.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace tvx {

class CommandConnection;
class FirmwareImage;
class HostNetwork;

// Where and how long the upgrade waits. The defaults are the module's; tests
// point the transfer at a scripted peer and shorten the pauses.
struct UpgradeSettings {
    uint16_t commandPort = 23;
    uint16_t tftpPort = 69;
    int sefPauseMs = 5000;
    TransferTimings timings;
};

// Puts a firmware file into one module: logs in over the command connection,
// announces the transfer with "$SEF", waits for the module to get ready and
// sends the file with the block transfer. The command connection stays open
// until the end, through the whole transfer; the UDP socket, the file and the
// connection are closed on every path by their owners. The result goes to the
// run's token, the main window's operationResult.
class upgradeFwThread : public WorkerThread {
public:
    upgradeFwThread(WorkerLink link, std::shared_ptr<HostNetwork> net, const DeviceRequest& request,
                    UpgradeSettings settings = {});

    // What runUpgrade shows for a failure code; empty for "nothing".
    static QString resultMessage(int code);
    // How a run that stored `code` ended: done for 0 only.
    static WorkerOutcome outcome(int code);
    static const QString& successQuestion();
    // A bar range that gives each block of the file a step of its own, for
    // where the bar is the only measure of the run (the window's bar, 1000,
    // is full after 100 blocks); never below 1000.
    static int barMaximumFor(const QByteArray& firmwarePath);

protected:
    void execute() override;
    void afterException() override;

private:
    int upgrade(CommandConnection& connection, FirmwareImage& image, FirmwareTransfer& transfer,
                QString& otherModule);
    bool pauseUnlessStopped(int ms);

    // Shared, so it outlives this worker whoever else lets go of it.
    std::shared_ptr<HostNetwork> net_;
    char firmwarePath_[256] = {};
    char password_[20] = {};
    char ipText_[20] = {};
    char macText_[20] = {};
    UpgradeSettings settings_;
};

} // namespace tvx
