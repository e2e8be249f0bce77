#pragma once

#include "app/WorkerLink.h"
#include "net/HostNetwork.h"
#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tvx {

// Which result codes a worker family uses for the same connection failures:
// the read and write workers, or the upgrade and reboot workers.
enum class WorkerFamily { Settings, Device };

// One worker's command connection to a module's TCP port 23: reaching it
// (directly, or through a temporary ARP entry and host route per local
// address), logging in, exchanging command lines, closing.
class CommandConnection {
public:
    static constexpr int kReplyRoom = 512;

    CommandConnection(HostNetwork& net, WorkerLink& link, WorkerFamily family, const char* ipText,
                      const char* macText);
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

    char* replyText() { return replyText_; }
    void clearReply();
    int routeIndex() const { return routeIndex_; }
    uint32_t deviceAddress() const { return deviceAddress_; }

private:
    int connectDevice();

    HostNetwork& net_;
    WorkerLink& link_;
    WorkerFamily family_;
    uint32_t deviceAddress_ = 0;
    uint8_t deviceMac_[6] = {};
    int routeIndex_ = -1;
    LocalAddressTable localTable_;
    UniqueFd socket_;
    std::unique_lock<std::mutex> moduleLock_;
    char replyText_[kReplyRoom] = {};
};

} // namespace tvx
