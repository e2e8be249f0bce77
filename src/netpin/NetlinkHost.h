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
// and the helper deletes nothing that lacks it. Its neighbour entries also
// carry the flag "router", which IPv4 leaves unused: an administrator's
// `ip neigh replace` or `change` of the entry keeps the protocol but clears
// the flag, and so makes the entry theirs.
constexpr uint8_t kOwnProtocol = 211;

struct NeighbourEntry {
    uint32_t address = 0;
    int ifIndex = 0;
    uint16_t state = 0; // NUD_*
    uint8_t protocol = 0; // 0 when the entry has none
    uint8_t flags = 0; // NTF_*
    uint32_t extFlags = 0; // NTF_EXT_* (managed)
    bool hasMac = false;
    std::array<uint8_t, 6> mac{};
};

// Made by a helper and not touched since by anyone else.
bool isOwnNeighbour(const NeighbourEntry& entry);
// Why the entry is someone's that the helper must leave as it is (empty for
// one the kernel learned, or one a helper made).
std::string foreignNeighbour(const NeighbourEntry& entry);

struct HostRouteEntry {
    uint32_t address = 0;
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
    // Why `address` must not be pinned or routed on `ifIndex` (empty when it
    // may): a route of the host other than the default one leads there
    // through a gateway or another interface, or is not a plain route.
    std::string routedElsewhere(uint32_t address, int ifIndex) const;

    // The IPv4 neighbour entries.
    Exit neighbours(std::vector<NeighbourEntry>& out, std::string& error);
    // The IPv4 neighbour entry of `address` on `ifIndex`, if there is one.
    Exit neighbourAt(uint32_t address, int ifIndex, std::optional<NeighbourEntry>& out,
                     std::string& error);
    // The main table's /32 routes to `address`, in table order.
    Exit hostRoutes(uint32_t address, std::vector<HostRouteEntry>& out, std::string& error);
    // The main table's /32 routes with the helper's mark, all addresses.
    Exit markedRoutes(std::vector<HostRouteEntry>& out, std::string& error);

    // A permanent entry with the helper's mark, replacing what is there
    // (callers check first that it is not someone else's).
    Exit pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error);
    // Deletes the entry of `address` on `ifIndex` if it is a helper's
    // (isOwnNeighbour) and still points to `mac`.
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
    struct Hop {
        int ifIndex;
        uint32_t gateway; // 0 for none
    };
    struct KnownRoute {
        Ipv4Range range;
        int prefixLength;
        uint32_t table;
        uint8_t type; // RTN_*
        uint8_t protocol;
        std::vector<Hop> hops;
    };

    Exit readTables(std::string& error);
    static Exit kernelExit(int nlError, const char* what, std::string& error);

    nl_sock* sock_ = nullptr;
    std::vector<LocalAddress> local_;
    std::vector<Subnet> subnets_;
    std::vector<uint32_t> subnetBroadcasts_;
    std::vector<uint32_t> gateways_;
    std::vector<KnownRoute> routes_;
    std::vector<std::array<uint8_t, 6>> hostMacs_;
};

} // namespace tvx::netpin
