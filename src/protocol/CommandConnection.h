#pragma once

#include "handover/WorkerLink.h"
#include "net/HostNetwork.h"
#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tvx {

// The result every worker that changes a module stores when the module that
// answered is not the one picked: nothing was changed.
constexpr int kOtherModuleResult = -20;

// The pauses of a command connection; the defaults are the module's, and
// every worker keeps them. Tests of the connection alone may shorten them.
struct CommandTimings {
    // Between the two connect calls: the second finds the connection made.
    int connectPauseMs = 1000;
    // For a reply after each of a command's two sends.
    int replyWaitMs = 2000;
};

// Which result codes a worker family uses for the same connection failures:
// the read and write workers, or the upgrade and reboot workers.
enum class WorkerFamily { Settings, Device };

// One worker's command connection to a module's TCP port 23: reaching it
// (directly, or through a temporary ARP entry and host route per local
// address), logging in, exchanging command lines, closing.
//
// Each connection works on its own snapshot of the host's local addresses and
// holds the module's locks (its address and its MAC) from reachDevice to
// closeConnection, so a worker
// still finishing after a cancel never removes the entries that a newer
// operation on the same module has just added. Whatever is still open when the
// object goes away (socket, ARP entry, route, lock) is released then.
class CommandConnection {
public:
    static constexpr int kReplyRoom = 512;
    static constexpr uint16_t kCommandPort = 23;
    // One receive takes at most this much of a reply line.
    static constexpr int kReceiveRoom = 128;

    // `port` is the module's command port; only tests on loopback change it,
    // and the timings.
    CommandConnection(HostNetwork& net, WorkerLink& link, WorkerFamily family, const char* ipText,
                      const char* macText, uint16_t port = kCommandPort,
                      CommandTimings timings = {});
    ~CommandConnection(); // closes whatever is still open
    CommandConnection(const CommandConnection&) = delete;
    CommandConnection& operator=(const CommandConnection&) = delete;

    // 0 connected; -1 device address 0 (and unreachable for Settings);
    // -3 unreachable (Device); -2 stop requested.
    int reachDevice();
    // 0 logged in; Settings: -3 no usable reply, -4 refused;
    // Device: -6 no usable reply, -5 refused.
    int loginDevice(const char* password);
    // >= 0 reply text length copied into `destination` (kReplyRoom bytes);
    // -1 receive failed or peer closed; -2 bad framing; -3 no reply in time.
    int sendCommand(const char* bytes, size_t length, char* destination);
    void closeConnection();

    // After the login, before the first line that changes the module: asks
    // the module for its MAC ("$GLM") and compares it with the MAC this
    // connection was made for. 0 when it is that module, or when its answer
    // names no MAC that tells them apart; kOtherModuleResult when another
    // module answered (`otherModule` then says which); Settings: -3, Device:
    // -6 when no usable reply came.
    int checkIdentity(QString& otherModule);
    // What to tell the user when the module that answered at `ip` reported
    // `reportedMac` instead of `pickedMac`; empty when they cannot be told
    // apart (either is missing or not a MAC).
    static QString otherModuleText(const char* ip, const char* pickedMac, const char* reportedMac);

    char* replyText() { return replyText_; }
    void clearReply();
    int routeIndex() const { return routeIndex_; }
    uint32_t deviceAddress() const { return deviceAddress_; }
    // The local addresses this connection's last reachDevice worked with.
    const LocalAddressTable& localAddresses() const { return localTable_; }

private:
    int connectDevice();
    int unreachable() const { return family_ == WorkerFamily::Settings ? -1 : -3; }

    HostNetwork& net_;
    WorkerLink& link_;
    WorkerFamily family_;
    uint16_t port_;
    CommandTimings timings_;
    uint32_t deviceAddress_ = 0;
    uint8_t deviceMac_[6] = {};
    char macText_[20] = {};
    int routeIndex_ = -1;
    LocalAddressTable localTable_;
    UniqueFd socket_;
    HostNetwork::ModuleLock moduleLock_;
    char messageText_[256] = {};
    char replyText_[kReplyRoom] = {};
};

} // namespace tvx
