#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvx {

// One IPv4 address of the host with the interface that carries it.
struct InterfaceAddress {
    uint32_t address = 0; // network byte order
    uint32_t ifIndex = 0;
};

// The host's address, neighbour and route tables, as far as this program
// reads and changes them. The real one asks the kernel (and, for changes, the
// privileged helper); tests inject a fake. Every call may come from any thread;
// callers serialise them with the host network locks.
class NetTables {
public:
    virtual ~NetTables() = default;

    // IPv4 addresses of interfaces that are up and running, loopback excluded,
    // in interface-index order. Returns false with errno-like code on failure.
    virtual bool listAddresses(std::vector<InterfaceAddress>& out, int& error) = 0;

    // Pins `address` to `mac` on interface `ifIndex` (permanent, replacing any
    // entry already there). False when the change was refused.
    virtual bool pinNeighbour(uint32_t address, const uint8_t mac[6], uint32_t ifIndex) = 0;

    // Removes every IPv4 neighbour entry whose link-layer address is `mac`, on
    // any interface. False only when the table could not be read.
    virtual bool unpinNeighbours(const uint8_t mac[6], int& error) = 0;

    // Adds a /32 route to `address` through `ifIndex` with source `localAddress`.
    virtual bool addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex) = 0;

    // Removes the first main-table route whose destination is `address`/32.
    virtual bool deleteHostRoute(uint32_t address) = 0;

    // Why the last change failed, for one log line (empty when nothing to say).
    virtual std::string lastChangeProblem() const { return {}; }
};

} // namespace tvx
