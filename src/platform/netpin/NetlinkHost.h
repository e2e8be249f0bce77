#pragma once

#include "NetpinArguments.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct nl_sock;

namespace tvx::netpin {

// The helper's one route-netlink socket and what it knows of the host: its
// own addresses, the broadcast addresses of its subnets, the gateways of its
// routes and its interfaces' link-layer addresses. Every change first checks
// that it touches none of these, so the helper cannot be used to hijack the
// host's own traffic whatever its caller asks.
class NetlinkHost {
public:
    NetlinkHost();
    ~NetlinkHost();
    NetlinkHost(const NetlinkHost&) = delete;
    NetlinkHost& operator=(const NetlinkHost&) = delete;

    // Opens the socket and reads the tables. On failure `error` says why and
    // the result is TableUnreadable.
    Exit open(std::string& error);

    // Why `address` must not be touched (empty when it may).
    std::string protectedAddress(uint32_t address) const;
    // Why `ifIndex` cannot carry a pinned entry or route (empty when it can).
    std::string unusableInterface(int ifIndex);
    bool isLocalAddressOn(uint32_t address, int ifIndex) const;
    bool isHostMac(const uint8_t mac[6]) const;

    Exit pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error);
    Exit unpin(const uint8_t mac[6], std::string& error);
    Exit addRoute(uint32_t address, uint32_t localAddress, int ifIndex, std::string& error);
    Exit deleteRoute(uint32_t address, std::string& error);

private:
    struct LocalAddress {
        uint32_t address;
        int ifIndex;
    };

    Exit readTables(std::string& error);
    static Exit kernelExit(int nlError, const char* what, std::string& error);

    nl_sock* sock_ = nullptr;
    std::vector<LocalAddress> local_;
    std::vector<uint32_t> subnetBroadcasts_;
    std::vector<uint32_t> gateways_;
    std::vector<std::array<uint8_t, 6>> hostMacs_;
};

} // namespace tvx::netpin
