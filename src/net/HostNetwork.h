#pragma once

#include "net/NetTables.h"

#include <QString>

#include <atomic>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace tvx {

constexpr int kMaxLocalAddresses = 32;
// Linux gives the loopback interface index 1 in every network namespace.
constexpr uint32_t kLoopbackIfIndex = 1;

// A copy of the host's local addresses, taken under the address-table lock,
// that one operation reads while another thread may refresh the shared table.
struct LocalAddressTable {
    int count = 0;
    uint32_t addresses[kMaxLocalAddresses] = {}; // network byte order
    uint32_t ifIndexes[kMaxLocalAddresses] = {};
};

// The host network state and the operations on the host's own tables: local
// addresses, temporary ARP entries and host routes. Every operation may be
// called from any thread; each table has its own lock and no operation holds
// two of them. Failure texts go to the log function, never to a message box.
class HostNetwork {
public:
    using LogFn = std::function<void(const QString&)>;

    HostNetwork(NetTables& tables, LogFn log);

    // Rebuilds the shared table; when `snapshot` is given it receives a copy of
    // the table as this call left it (also after a failure). 0 or -1.
    int refreshLocalAddresses(LocalAddressTable* snapshot = nullptr);
    // Zero-fills the shared table (start-up).
    void clearLocalAddresses();
    LocalAddressTable snapshot() const;

    int addArpEntry(uint32_t address, const uint8_t mac[6], uint32_t ifIndex);
    void deleteArpEntries(const uint8_t mac[6]);
    int addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex);
    void deleteHostRoute(uint32_t address);

    // Serialises the use of the host's tables for one module, from reaching it
    // to closing its connection, so a worker that still finishes after a cancel
    // cannot remove what a newer operation on the same module has just added.
    // Both the address and the MAC are locked: modules that share a factory
    // address have one neighbour entry and one route between them.
    struct ModuleLock {
        std::unique_lock<std::mutex> address;
        std::unique_lock<std::mutex> mac;
        bool owns() const { return address.owns_lock(); }
    };
    ModuleLock lockModule(uint32_t address, const uint8_t mac[6]);

    // The addresses that several modules answer from (factory defaults). A
    // connection to such an address goes through a pinned neighbour entry for
    // the module's MAC first, so that the module picked is the module reached,
    // not whichever answers ARP first. An address stays marked while any of
    // its marks lives; a mark may be released on any thread.
    [[nodiscard]] std::shared_ptr<void> markAddressShared(uint32_t address);
    bool addressIsShared(uint32_t address) const;
    // A connection to a shared address went straight to it because no pinned
    // entry could be made: said once per address.
    void noteSharedReachedDirectly(uint32_t address);

    void log(const QString& text) const;

private:
    void noteChangeProblem();

    NetTables& tables_;
    LogFn log_;
    mutable std::mutex addressTableLock_;
    std::mutex routeLock_;
    std::mutex arpLock_;
    LocalAddressTable table_;
    std::atomic<bool> privilegeNoted_{false};
    mutable std::mutex sharedLock_;
    std::unordered_map<uint32_t, int> sharedAddresses_;
    std::unordered_set<uint32_t> reachedDirectly_;

    static constexpr int kModuleLocks = 64;
    // Always the address's lock first, then the MAC's: no two workers wait
    // for each other.
    std::mutex addressLocks_[kModuleLocks];
    std::mutex macLocks_[kModuleLocks];
};

} // namespace tvx
