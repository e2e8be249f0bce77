#include "common/FakeNetTables.h"

#include <algorithm>
#include <cstring>

namespace tvx::test {

bool FakeNetTables::listAddresses(std::vector<InterfaceAddress>& out, int& error)
{
    std::lock_guard guard(lock);
    if (listFails) {
        error = listError;
        return false;
    }
    out = addresses;
    return true;
}

bool FakeNetTables::pinNeighbour(uint32_t address, const uint8_t mac[6], uint32_t ifIndex)
{
    std::lock_guard guard(lock);
    ++pinCalls;
    if (refuseChanges)
        return false;
    Neighbour n{address, {}, ifIndex};
    std::memcpy(n.mac.data(), mac, 6);
    std::erase_if(neighbours,
                  [&](const Neighbour& e) { return e.address == address && e.ifIndex == ifIndex; });
    neighbours.push_back(n);
    return true;
}

bool FakeNetTables::unpinNeighbours(const uint8_t mac[6], int& error)
{
    std::lock_guard guard(lock);
    if (neighbourTableUnreadable) {
        error = 4;
        return false;
    }
    std::erase_if(neighbours,
                  [&](const Neighbour& e) { return std::memcmp(e.mac.data(), mac, 6) == 0; });
    return true;
}

bool FakeNetTables::addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex)
{
    std::lock_guard guard(lock);
    ++routeCalls;
    if (refuseChanges)
        return false;
    routes.push_back({address, localAddress, ifIndex});
    return true;
}

bool FakeNetTables::deleteHostRoute(uint32_t address)
{
    std::lock_guard guard(lock);
    auto it = std::find_if(routes.begin(), routes.end(),
                           [&](const Route& r) { return r.address == address; });
    if (it == routes.end())
        return false;
    routes.erase(it);
    return true;
}

std::string FakeNetTables::lastChangeProblem() const
{
    std::lock_guard guard(lock);
    return refuseChanges ? changeProblem : std::string();
}

} // namespace tvx::test
