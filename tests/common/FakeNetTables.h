#pragma once

#include "net/NetTables.h"

#include <array>
#include <memory>
#include <mutex>
#include <vector>

namespace tvx::test {

// An in-memory stand-in for the host's tables, for tests that must not touch
// the kernel: it lists scripted addresses and records every change.
class FakeNetTables : public NetTables {
public:
    struct Neighbour {
        uint32_t address;
        std::array<uint8_t, 6> mac;
        uint32_t ifIndex;
    };
    struct Route {
        uint32_t address;
        uint32_t localAddress;
        uint32_t ifIndex;
    };

    bool listAddresses(std::vector<InterfaceAddress>& out, int& error) override;
    bool pinNeighbour(uint32_t address, const uint8_t mac[6], uint32_t ifIndex) override;
    bool unpinNeighbours(const uint8_t mac[6], int& error) override;
    bool addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex) override;
    bool deleteHostRoute(uint32_t address) override;
    std::string lastChangeProblem() const override;

    mutable std::mutex lock;
    std::vector<InterfaceAddress> addresses;
    bool listFails = false;
    int listError = 0;
    bool refuseChanges = false;
    // What a refused change reports (the real tables name the missing privilege).
    std::string changeProblem;
    bool neighbourTableUnreadable = false;
    std::vector<Neighbour> neighbours;
    std::vector<Route> routes;
    int pinCalls = 0;
    int routeCalls = 0;
};

// A share of tables that the test owns and outlives its workers with (it waits
// for them): the share does not delete them.
inline std::shared_ptr<NetTables> unownedTables(NetTables& tables)
{
    return std::shared_ptr<NetTables>(std::shared_ptr<NetTables>(), &tables);
}

} // namespace tvx::test
