#include "net/HostNetwork.h"

#include "net/Ipv4.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace tvx {

HostNetwork::HostNetwork(NetTables& tables, LogFn log) : tables_(tables), log_(std::move(log)) {}

void HostNetwork::log(const QString& text) const
{
    if (log_)
        log_(text);
}

void HostNetwork::clearLocalAddresses()
{
    std::lock_guard lock(addressTableLock_);
    table_ = LocalAddressTable{};
}

LocalAddressTable HostNetwork::snapshot() const
{
    std::lock_guard lock(addressTableLock_);
    return table_;
}

int HostNetwork::refreshLocalAddresses(LocalAddressTable* snapshot)
{
    std::vector<InterfaceAddress> found;
    int error = 0;
    int result = 0;
    std::lock_guard lock(addressTableLock_);
    // Each operation that may change the tables starts here: it may say once
    // that the privilege is missing.
    privilegeNoted_.store(false);
    if (!tables_.listAddresses(found, error)) {
        log(QStringLiteral("GetIpAddrTable failed, %1").arg(error));
        result = -1;
    } else if (found.empty()) {
        // As the host-name lookup answers on a host without a network: the
        // loopback address alone, so start-up succeeds and a later search
        // finds the network once it is up.
        table_.count = 1;
        table_.addresses[0] = parseIpv4("127.0.0.1", false);
        table_.ifIndexes[0] = kLoopbackIfIndex;
    } else {
        table_.count = 0;
        for (const auto& entry : found) {
            if (table_.count == kMaxLocalAddresses)
                break;
            table_.addresses[table_.count] = entry.address;
            table_.ifIndexes[table_.count] = entry.ifIndex;
            ++table_.count;
        }
    }
    if (snapshot)
        *snapshot = table_;
    return result;
}

int HostNetwork::addArpEntry(uint32_t address, const uint8_t mac[6], uint32_t ifIndex)
{
    bool ok;
    {
        std::lock_guard lock(arpLock_);
        ok = tables_.pinNeighbour(address, mac, ifIndex);
    }
    if (!ok)
        noteChangeProblem();
    return ok ? 0 : -1;
}

void HostNetwork::noteChangeProblem()
{
    // The table's own failure is silent; what is said here is the one thing
    // the user can act on: the helper missing or without its privilege.
    const std::string problem = tables_.lastChangeProblem();
    if (!problem.empty() && !privilegeNoted_.exchange(true))
        log(QString::fromStdString(problem));
}

void HostNetwork::deleteArpEntries(const uint8_t mac[6])
{
    std::lock_guard lock(arpLock_);
    int error = 0;
    if (!tables_.unpinNeighbours(mac, error))
        log(QStringLiteral("GetIpNetTable failed, %1").arg(error));
}

int HostNetwork::addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex)
{
    if (address == kInaddrNone) {
        log(QStringLiteral("INADDR_NONE"));
        return -1;
    }
    if (localAddress == kInaddrNone || localAddress == 0) {
        log(QStringLiteral("INADDR_NONE"));
        return -1;
    }
    bool ok;
    {
        std::lock_guard lock(routeLock_);
        ok = tables_.addHostRoute(address, localAddress, ifIndex);
    }
    if (!ok)
        noteChangeProblem();
    return ok ? 0 : -1;
}

void HostNetwork::deleteHostRoute(uint32_t address)
{
    std::lock_guard lock(routeLock_);
    tables_.deleteHostRoute(address);
}

HostNetwork::ModuleLock HostNetwork::lockModule(uint32_t address, const uint8_t mac[6])
{
    const auto spread = [](const uint8_t* bytes, int n) {
        unsigned hash = 0;
        for (int i = 0; i < n; ++i)
            hash = hash * 31u + bytes[i];
        return hash % kModuleLocks;
    };
    uint8_t octets[4];
    std::memcpy(octets, &address, 4);
    ModuleLock lock;
    lock.address = std::unique_lock(addressLocks_[spread(octets, 4)]);
    lock.mac = std::unique_lock(macLocks_[spread(mac, 6)]);
    return lock;
}

std::shared_ptr<void> HostNetwork::markAddressShared(uint32_t address)
{
    bool first;
    {
        std::lock_guard guard(sharedLock_);
        first = sharedAddresses_[address]++ == 0;
    }
    if (first) {
        char ip[16];
        formatIpv4(address, ip);
        log(QStringLiteral("%1 answers for several modules: each is reached by its MAC")
                .arg(QLatin1String(ip)));
    }
    // The host network outlives every mark: workers and registries hold it by
    // shared pointer and drop their marks first.
    return std::shared_ptr<void>(nullptr, [this, address](void*) {
        std::lock_guard guard(sharedLock_);
        const auto it = sharedAddresses_.find(address);
        if (it != sharedAddresses_.end() && --it->second <= 0)
            sharedAddresses_.erase(it);
    });
}

bool HostNetwork::addressIsShared(uint32_t address) const
{
    std::lock_guard guard(sharedLock_);
    return sharedAddresses_.count(address) != 0;
}

void HostNetwork::noteSharedReachedDirectly(uint32_t address)
{
    {
        std::lock_guard guard(sharedLock_);
        if (!reachedDirectly_.insert(address).second)
            return;
    }
    char ip[16];
    formatIpv4(address, ip);
    log(QStringLiteral("%1 answers for several modules, and no pinned entry could be made: "
                       "whichever answers there is reached and checked by its MAC; the helper "
                       "tarvanix-netpin would make every module at that address reachable")
            .arg(QLatin1String(ip)));
}

} // namespace tvx
