#pragma once

#include "NetpinArguments.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct nl_sock;

namespace tvx::netpin {

// The helper's one route-netlink socket and what it knows of the host: its
// own addresses, the broadcast addresses of its subnets, the gateways of its
// routes and its interfaces' link-layer addresses. Every change first checks
// that it touches none of these, so the helper cannot be used to hijack the
// host's own traffic whatever its caller asks.
//
// What the helper makes carries its own protocol number: routes in the
// route's protocol field, neighbour entries in their protocol attribute. The
// kernel keeps both as given, so the mark survives the helper and its caller,
// and the helper deletes nothing that lacks it.
constexpr uint8_t kOwnProtocol = 211;

struct NeighbourEntry {
    uint32_t address = 0;
    int ifIndex = 0;
    uint16_t state = 0; // NUD_*
    uint8_t protocol = 0; // 0 when the entry has none
    bool hasMac = false;
    std::array<uint8_t, 6> mac{};
};

struct HostRouteEntry {
    int ifIndex = 0; // of the first nexthop; 0 for a route without one
    uint8_t protocol = 0;
};

class NetlinkHost {
public:
    NetlinkHost();
    ~NetlinkHost();
    NetlinkHost(const NetlinkHost&) = delete;
    NetlinkHost& operator=(const NetlinkHost&) = delete;

    // Opens the socket and reads the tables. On failure `error` says why and
    // the result is TableUnreadable.
    Exit open(std::string& error);
    // Reads the tables again.
    Exit refresh(std::string& error);

    // Why `address` must not be touched (empty when it may).
    std::string protectedAddress(uint32_t address) const;
    // Why `ifIndex` cannot carry a pinned entry or route (empty when it can).
    std::string unusableInterface(int ifIndex);
    bool isLocalAddressOn(uint32_t address, int ifIndex) const;
    bool isHostMac(const uint8_t mac[6]) const;
    // Why `address` must not be pinned or routed on `ifIndex` (empty when it
    // may): it lies in a subnet that another interface carries.
    std::string outsideItsSubnet(uint32_t address, int ifIndex) const;

    // The IPv4 neighbour entry of `address` on `ifIndex`, if there is one.
    Exit neighbourAt(uint32_t address, int ifIndex, std::optional<NeighbourEntry>& out,
                     std::string& error);
    // The main table's /32 routes to `address`, in table order.
    Exit hostRoutes(uint32_t address, std::vector<HostRouteEntry>& out, std::string& error);

    // A permanent entry with the helper's mark, replacing what is there
    // (callers check first that it is not someone else's permanent entry).
    Exit pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error);
    // Deletes the entry of `address` on `ifIndex` if it carries the mark and
    // still points to `mac`.
    Exit unpin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error);
    Exit addRoute(uint32_t address, uint32_t localAddress, int ifIndex, std::string& error);
    // Deletes the marked /32 route to `address` through `ifIndex`, if any.
    Exit deleteRoute(uint32_t address, int ifIndex, std::string& error);

private:
    struct LocalAddress {
        uint32_t address;
        int ifIndex;
    };
    struct Subnet {
        Ipv4Range range;
        int ifIndex;
    };

    Exit readTables(std::string& error);
    static Exit kernelExit(int nlError, const char* what, std::string& error);

    nl_sock* sock_ = nullptr;
    std::vector<LocalAddress> local_;
    std::vector<Subnet> subnets_;
    std::vector<uint32_t> subnetBroadcasts_;
    std::vector<uint32_t> gateways_;
    std::vector<std::array<uint8_t, 6>> hostMacs_;
};

} // namespace tvx::netpin
