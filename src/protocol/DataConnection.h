#pragma once

#include "net/HostNetwork.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <functional>

namespace tvx {

// The TCP connection to a module's data port, the far end of its serial port.
// It reaches the module as its command connection does: directly, unless
// several modules answer at its address, and else through a temporary ARP
// entry for its MAC and a host route per local address, made by the host
// network. Those entries and the module's locks are held for one connection
// only: closing it removes them, so nothing stays in the host's tables while
// the module is away or once the connection has ended.
class DataConnection {
public:
    // How a connect waits for `fd` to become writable: > 0 it is, 0 the time
    // ran out, < 0 the wait was stopped. The caller decides what else it
    // serves meanwhile.
    using Wait = std::function<int(int fd, int timeoutMs)>;
    static constexpr int kConnectTimeoutMs = 3000;

    DataConnection(HostNetwork& net, const char* ipText, const char* macText, uint16_t port);
    ~DataConnection(); // closes whatever is still open
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;

    // 0 connected; -1 unreachable (lastError() says why); -2 stopped.
    int open(const Wait& wait);
    void close();

    int socket() const { return socket_.get(); }
    // errno of the last attempt that failed.
    int lastError() const { return lastError_; }
    // "192.0.2.11:4000", for messages.
    const char* endpoint() const { return endpoint_; }

private:
    // 0, -1 or -2, as open().
    int attempt(const Wait& wait);
    void unpin();

    HostNetwork& net_;
    uint32_t address_ = 0;
    uint8_t mac_[6] = {};
    uint16_t port_;
    char endpoint_[24] = {};
    UniqueFd socket_;
    bool pinned_ = false;
    int lastError_ = 0;
    HostNetwork::ModuleLock lock_;
};

} // namespace tvx
