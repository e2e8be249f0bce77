#include "NetlinkHost.h"

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/errno.h>
#include <netlink/handlers.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/neighbour.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>
#include <netlink/route/rtnl.h>
#include <netlink/socket.h>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <algorithm>
#include <cstring>

namespace tvx::netpin {

namespace {

struct CacheFree {
    void operator()(nl_cache* c) const { nl_cache_free(c); }
};
struct AddrPut {
    void operator()(nl_addr* a) const { nl_addr_put(a); }
};
struct NeighPut {
    void operator()(rtnl_neigh* n) const { rtnl_neigh_put(n); }
};
struct RoutePut {
    void operator()(rtnl_route* r) const { rtnl_route_put(r); }
};
struct LinkPut {
    void operator()(rtnl_link* l) const { rtnl_link_put(l); }
};
using Cache = std::unique_ptr<nl_cache, CacheFree>;
using Addr = std::unique_ptr<nl_addr, AddrPut>;
using Neigh = std::unique_ptr<rtnl_neigh, NeighPut>;
using Route = std::unique_ptr<rtnl_route, RoutePut>;
using Link = std::unique_ptr<rtnl_link, LinkPut>;

Addr ipv4Addr(uint32_t address, unsigned prefixLength)
{
    Addr a(nl_addr_build(AF_INET, &address, 4));
    if (a)
        nl_addr_set_prefixlen(a.get(), static_cast<int>(prefixLength));
    return a;
}

// The address of an IPv4 nl_addr, or nothing for another family or length.
bool ipv4Of(nl_addr* a, uint32_t& out)
{
    if (!a || nl_addr_get_family(a) != AF_INET || nl_addr_get_len(a) != 4)
        return false;
    std::memcpy(&out, nl_addr_get_binary_addr(a), 4);
    return true;
}

} // namespace

NetlinkHost::NetlinkHost() = default;

NetlinkHost::~NetlinkHost()
{
    if (sock_)
        nl_socket_free(sock_);
}

Exit NetlinkHost::kernelExit(int nlError, const char* what, std::string& error)
{
    error = std::string(what) + ": " + nl_geterror(nlError);
    if (nlError == -NLE_PERM || nlError == NLE_PERM)
        return NoPrivilege;
    return KernelRefused;
}

Exit NetlinkHost::open(std::string& error)
{
    // An explicit default callback set: the library's own default can be
    // switched to a verbose one through the environment, which a program
    // with file capabilities must not honour.
    nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
    if (!cb) {
        error = "out of memory";
        return TableUnreadable;
    }
    sock_ = nl_socket_alloc_cb(cb);
    nl_cb_put(cb);
    if (!sock_) {
        error = "out of memory";
        return TableUnreadable;
    }
    if (const int err = nl_connect(sock_, NETLINK_ROUTE); err < 0) {
        error = std::string("cannot open the routing socket: ") + nl_geterror(err);
        return TableUnreadable;
    }
    return readTables(error);
}

Exit NetlinkHost::refresh(std::string& error)
{
    local_.clear();
    subnets_.clear();
    subnetBroadcasts_.clear();
    gateways_.clear();
    routes_.clear();
    hostMacs_.clear();
    return readTables(error);
}

Exit NetlinkHost::readTables(std::string& error)
{
    nl_cache* raw = nullptr;
    if (const int err = rtnl_addr_alloc_cache(sock_, &raw); err < 0) {
        error = std::string("cannot read the address table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache addresses(raw);
    for (nl_object* o = nl_cache_get_first(addresses.get()); o; o = nl_cache_get_next(o)) {
        auto* a = reinterpret_cast<rtnl_addr*>(o);
        uint32_t local = 0;
        if (rtnl_addr_get_family(a) != AF_INET || !ipv4Of(rtnl_addr_get_local(a), local))
            continue;
        local_.push_back({local, rtnl_addr_get_ifindex(a)});
        const int prefix = rtnl_addr_get_prefixlen(a);
        if (prefix > 0 && prefix < 31) {
            const uint32_t mask = htonl(0xFFFFFFFFu << (32 - prefix));
            subnetBroadcasts_.push_back(local | ~mask);
        }
        // A peer address (point-to-point) is the far end's, and so is its /32.
        uint32_t peer = 0;
        if (ipv4Of(rtnl_addr_get_peer(a), peer) && peer != local)
            subnets_.push_back({{peer, 0xFFFFFFFFu}, rtnl_addr_get_ifindex(a)});
        else if (prefix > 0 && prefix < 32) {
            const uint32_t mask = htonl(0xFFFFFFFFu << (32 - prefix));
            subnets_.push_back({{local & mask, mask}, rtnl_addr_get_ifindex(a)});
        }
    }

    raw = nullptr;
    if (const int err = rtnl_route_alloc_cache(sock_, AF_INET, 0, &raw); err < 0) {
        error = std::string("cannot read the route table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache routes(raw);
    for (nl_object* o = nl_cache_get_first(routes.get()); o; o = nl_cache_get_next(o)) {
        auto* r = reinterpret_cast<rtnl_route*>(o);
        KnownRoute known{};
        nl_addr* dst = rtnl_route_get_dst(r);
        uint32_t network = 0;
        known.prefixLength = dst ? nl_addr_get_prefixlen(dst) : 0;
        if (known.prefixLength > 0 && ipv4Of(dst, network)) {
            const uint32_t mask = htonl(0xFFFFFFFFu << (32 - known.prefixLength));
            known.range = {network & mask, mask};
        } else {
            known.prefixLength = 0;
        }
        known.table = rtnl_route_get_table(r);
        known.type = rtnl_route_get_type(r);
        known.protocol = rtnl_route_get_protocol(r);
        const int n = rtnl_route_get_nnexthops(r);
        for (int i = 0; i < n; ++i) {
            rtnl_nexthop* nh = rtnl_route_nexthop_n(r, i);
            uint32_t gw = 0;
            if (ipv4Of(rtnl_route_nh_get_gateway(nh), gw))
                gateways_.push_back(gw);
            known.hops.push_back({rtnl_route_nh_get_ifindex(nh), gw});
        }
        routes_.push_back(std::move(known));
    }

    raw = nullptr;
    if (const int err = rtnl_link_alloc_cache(sock_, AF_UNSPEC, &raw); err < 0) {
        error = std::string("cannot read the interface table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache links(raw);
    for (nl_object* o = nl_cache_get_first(links.get()); o; o = nl_cache_get_next(o)) {
        nl_addr* a = rtnl_link_get_addr(reinterpret_cast<rtnl_link*>(o));
        if (a && nl_addr_get_len(a) == 6) {
            std::array<uint8_t, 6> mac{};
            std::memcpy(mac.data(), nl_addr_get_binary_addr(a), 6);
            hostMacs_.push_back(mac);
        }
    }
    return Ok;
}

std::string NetlinkHost::protectedAddress(uint32_t address) const
{
    if (const char* why = refusedAddressClass(address))
        return formatAddress(address) + " is " + why;
    for (const auto& l : local_) {
        if (l.address == address)
            return formatAddress(address) + " is an address of this host";
    }
    if (std::find(subnetBroadcasts_.begin(), subnetBroadcasts_.end(), address)
        != subnetBroadcasts_.end())
        return formatAddress(address) + " is the broadcast address of a local subnet";
    if (std::find(gateways_.begin(), gateways_.end(), address) != gateways_.end())
        return formatAddress(address) + " is the gateway of a route of this host";
    return {};
}

std::string NetlinkHost::unusableInterface(int ifIndex)
{
    rtnl_link* raw = nullptr;
    if (rtnl_link_get_kernel(sock_, ifIndex, nullptr, &raw) < 0 || !raw)
        return "no interface has the index " + std::to_string(ifIndex);
    Link link(raw);
    if (rtnl_link_get_flags(link.get()) & IFF_LOOPBACK)
        return "interface " + std::to_string(ifIndex) + " is the loopback interface";
    return {};
}

bool NetlinkHost::isLocalAddressOn(uint32_t address, int ifIndex) const
{
    return std::any_of(local_.begin(), local_.end(), [&](const LocalAddress& l) {
        return l.address == address && l.ifIndex == ifIndex;
    });
}

bool NetlinkHost::isHostMac(const uint8_t mac[6]) const
{
    return std::any_of(hostMacs_.begin(), hostMacs_.end(), [&](const std::array<uint8_t, 6>& m) {
        return std::memcmp(m.data(), mac, 6) == 0;
    });
}

std::string NetlinkHost::outsideItsSubnet(uint32_t address, int ifIndex) const
{
    const Subnet* other = nullptr;
    for (const Subnet& n : subnets_) {
        if (!n.range.contains(address))
            continue;
        if (n.ifIndex == ifIndex)
            return {};
        other = &n;
    }
    if (!other)
        return {};
    return formatAddress(address) + " lies in a subnet of interface "
        + std::to_string(other->ifIndex) + ", not of interface " + std::to_string(ifIndex);
}

std::string NetlinkHost::routedElsewhere(uint32_t address, int ifIndex) const
{
    for (const KnownRoute& r : routes_) {
        // The default route is how the helper's modules are otherwise
        // reached; the local table holds the host's own addresses, refused
        // before; the helper's own host routes are route-add's to weigh.
        if (r.prefixLength == 0 || r.table == RT_TABLE_LOCAL || !r.range.contains(address)
            || (r.prefixLength == 32 && r.protocol == kOwnProtocol))
            continue;
        const std::string route =
            formatAddress(r.range.network) + "/" + std::to_string(r.prefixLength);
        if (r.type != RTN_UNICAST) {
            char type[32];
            return formatAddress(address) + " is covered by the "
                + nl_rtntype2str(r.type, type, sizeof type) + " route " + route;
        }
        if (r.hops.empty())
            return formatAddress(address) + " is routed by " + route
                + ", whose next hops this helper cannot read";
        for (const Hop& h : r.hops) {
            if (h.gateway != 0)
                return formatAddress(address) + " is routed through the gateway "
                    + formatAddress(h.gateway) + " by the route " + route;
            if (h.ifIndex != ifIndex)
                return formatAddress(address) + " is routed to interface "
                    + std::to_string(h.ifIndex) + " by the route " + route;
        }
    }
    return {};
}

bool isOwnNeighbour(const NeighbourEntry& e)
{
    return e.protocol == kOwnProtocol && (e.flags & NTF_ROUTER) && e.state == NUD_PERMANENT
        && e.hasMac && !(e.flags & NTF_EXT_LEARNED) && e.extFlags == 0;
}

std::string foreignNeighbour(const NeighbourEntry& e)
{
    if (isOwnNeighbour(e))
        return {};
    if (e.protocol == kOwnProtocol)
        return "re-stated by an administrator";
    if (e.protocol != 0)
        return "of the protocol " + std::to_string(e.protocol);
    if (e.state & NUD_PERMANENT)
        return "permanent";
    if (e.state & NUD_NOARP)
        return "noarp";
    if (e.extFlags & NTF_EXT_MANAGED)
        return "managed";
    if (e.extFlags)
        return "with extended flags";
    if (e.flags & NTF_EXT_LEARNED)
        return "extern_learn";
    if (e.flags & NTF_ROUTER)
        return "marked router";
    return {};
}

namespace {

struct NlMsgFree {
    void operator()(nl_msg* m) const { nlmsg_free(m); }
};
using Message = std::unique_ptr<nl_msg, NlMsgFree>;

int takeNeighbour(nl_msg* msg, void* arg)
{
    auto* out = static_cast<std::vector<NeighbourEntry>*>(arg);
    nlmsghdr* header = nlmsg_hdr(msg);
    if (header->nlmsg_type != RTM_NEWNEIGH || !nlmsg_valid_hdr(header, sizeof(ndmsg)))
        return NL_OK;
    const auto* nd = static_cast<const ndmsg*>(nlmsg_data(header));
    nlattr* attrs[NDA_MAX + 1] = {};
    if (nd->ndm_family != AF_INET || nlmsg_parse(header, sizeof(ndmsg), attrs, NDA_MAX, nullptr) < 0
        || !attrs[NDA_DST] || nla_len(attrs[NDA_DST]) != 4)
        return NL_OK;
    NeighbourEntry e;
    std::memcpy(&e.address, nla_data(attrs[NDA_DST]), 4);
    e.ifIndex = nd->ndm_ifindex;
    e.state = nd->ndm_state;
    e.flags = nd->ndm_flags;
    if (attrs[NDA_PROTOCOL] && nla_len(attrs[NDA_PROTOCOL]) == 1)
        e.protocol = nla_get_u8(attrs[NDA_PROTOCOL]);
    if (attrs[NDA_FLAGS_EXT] && nla_len(attrs[NDA_FLAGS_EXT]) == 4)
        e.extFlags = nla_get_u32(attrs[NDA_FLAGS_EXT]);
    if (attrs[NDA_LLADDR] && nla_len(attrs[NDA_LLADDR]) == 6) {
        e.hasMac = true;
        std::memcpy(e.mac.data(), nla_data(attrs[NDA_LLADDR]), 6);
    }
    out->push_back(e);
    return NL_OK;
}

// The neighbour message for `address` on `ifIndex`, with the rest left to
// the caller.
Message neighbourMessage(int type, int flags, uint32_t address, int ifIndex, uint16_t state,
                         uint8_t ndmFlags)
{
    Message msg(nlmsg_alloc_simple(type, flags));
    ndmsg nd{};
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = ifIndex;
    nd.ndm_state = state;
    nd.ndm_flags = ndmFlags;
    if (!msg || nlmsg_append(msg.get(), &nd, sizeof nd, NLMSG_ALIGNTO) < 0
        || nla_put(msg.get(), NDA_DST, 4, &address) < 0)
        return {};
    return msg;
}

} // namespace

Exit NetlinkHost::neighbours(std::vector<NeighbourEntry>& out, std::string& error)
{
    // libnl's neighbour object has no protocol, so the dump is read here.
    out.clear();
    ndmsg nd{};
    nd.ndm_family = AF_INET;
    if (const int err = nl_send_simple(sock_, RTM_GETNEIGH, NLM_F_DUMP, &nd, sizeof nd); err < 0) {
        error = std::string("cannot read the neighbour table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
    if (!cb) {
        error = "out of memory";
        return TableUnreadable;
    }
    nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, takeNeighbour, &out);
    const int err = nl_recvmsgs(sock_, cb);
    nl_cb_put(cb);
    if (err < 0) {
        error = std::string("cannot read the neighbour table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    return Ok;
}

Exit NetlinkHost::neighbourAt(uint32_t address, int ifIndex, std::optional<NeighbourEntry>& out,
                              std::string& error)
{
    out.reset();
    std::vector<NeighbourEntry> all;
    if (const Exit e = neighbours(all, error); e != Ok)
        return e;
    for (const NeighbourEntry& n : all) {
        if (n.address == address && n.ifIndex == ifIndex)
            out = n;
    }
    return Ok;
}

Exit NetlinkHost::pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error)
{
    // Permanent: a reachable entry ages to failed and loses its MAC, after
    // which the removal could no longer recognise it. Replace: the host may
    // already have learned an entry from the module.
    Message msg = neighbourMessage(RTM_NEWNEIGH, NLM_F_CREATE | NLM_F_REPLACE, address, ifIndex,
                                   NUD_PERMANENT, NTF_ROUTER);
    if (!msg || nla_put(msg.get(), NDA_LLADDR, 6, mac) < 0
        || nla_put_u8(msg.get(), NDA_PROTOCOL, kOwnProtocol) < 0) {
        error = "out of memory";
        return KernelRefused;
    }
    if (const int err = nl_send_sync(sock_, msg.release()); err < 0)
        return kernelExit(err, "cannot add the neighbour entry", error);
    return Ok;
}

Exit NetlinkHost::unpin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& error)
{
    std::optional<NeighbourEntry> entry;
    if (const Exit e = neighbourAt(address, ifIndex, entry, error); e != Ok)
        return e;
    // Replaced or re-stated meanwhile by someone else, or already gone: not
    // ours to touch.
    if (!entry || !isOwnNeighbour(*entry) || std::memcmp(entry->mac.data(), mac, 6) != 0)
        return Ok;
    Message msg = neighbourMessage(RTM_DELNEIGH, 0, address, ifIndex, 0, 0);
    if (!msg) {
        error = "out of memory";
        return KernelRefused;
    }
    if (const int err = nl_send_sync(sock_, msg.release()); err < 0 && err != -NLE_OBJ_NOTFOUND)
        return kernelExit(err, "cannot delete the neighbour entry", error);
    return Ok;
}

Exit NetlinkHost::hostRoutes(uint32_t address, std::vector<HostRouteEntry>& out, std::string& error)
{
    out.clear();
    nl_cache* raw = nullptr;
    if (const int err = rtnl_route_alloc_cache(sock_, AF_INET, 0, &raw); err < 0) {
        error = std::string("cannot read the route table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache cache(raw);
    for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
        auto* r = reinterpret_cast<rtnl_route*>(o);
        nl_addr* dst = rtnl_route_get_dst(r);
        uint32_t value = 0;
        if (rtnl_route_get_table(r) != RT_TABLE_MAIN || !ipv4Of(dst, value)
            || nl_addr_get_prefixlen(dst) != 32 || value != address)
            continue;
        HostRouteEntry e;
        e.address = value;
        e.protocol = rtnl_route_get_protocol(r);
        if (rtnl_route_get_nnexthops(r) > 0)
            e.ifIndex = rtnl_route_nh_get_ifindex(rtnl_route_nexthop_n(r, 0));
        out.push_back(e);
    }
    return Ok;
}

Exit NetlinkHost::markedRoutes(std::vector<HostRouteEntry>& out, std::string& error)
{
    out.clear();
    nl_cache* raw = nullptr;
    if (const int err = rtnl_route_alloc_cache(sock_, AF_INET, 0, &raw); err < 0) {
        error = std::string("cannot read the route table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache cache(raw);
    for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
        auto* r = reinterpret_cast<rtnl_route*>(o);
        nl_addr* dst = rtnl_route_get_dst(r);
        HostRouteEntry e;
        if (rtnl_route_get_table(r) != RT_TABLE_MAIN || !ipv4Of(dst, e.address)
            || nl_addr_get_prefixlen(dst) != 32 || rtnl_route_get_protocol(r) != kOwnProtocol
            || rtnl_route_get_nnexthops(r) != 1)
            continue;
        e.protocol = kOwnProtocol;
        e.ifIndex = rtnl_route_nh_get_ifindex(rtnl_route_nexthop_n(r, 0));
        out.push_back(e);
    }
    return Ok;
}

Exit NetlinkHost::addRoute(uint32_t address, uint32_t localAddress, int ifIndex, std::string& error)
{
    Route route(rtnl_route_alloc());
    Addr dst = ipv4Addr(address, 32);
    Addr src = ipv4Addr(localAddress, 32);
    rtnl_nexthop* nh = rtnl_route_nh_alloc();
    if (!route || !dst || !src || !nh) {
        if (nh)
            rtnl_route_nh_free(nh);
        error = "out of memory";
        return KernelRefused;
    }
    rtnl_route_set_family(route.get(), AF_INET);
    rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
    rtnl_route_set_type(route.get(), RTN_UNICAST);
    // On the link: the module answers directly, no gateway in between.
    rtnl_route_set_scope(route.get(), RT_SCOPE_LINK);
    rtnl_route_set_protocol(route.get(), kOwnProtocol);
    rtnl_route_set_dst(route.get(), dst.get());
    rtnl_route_set_pref_src(route.get(), src.get());
    rtnl_route_nh_set_ifindex(nh, ifIndex);
    rtnl_route_add_nexthop(route.get(), nh); // the route owns it now
    // No replace: a route already there is never taken over.
    if (const int err = rtnl_route_add(sock_, route.get(), NLM_F_CREATE | NLM_F_EXCL); err < 0)
        return kernelExit(err, "cannot add the host route", error);
    return Ok;
}

Exit NetlinkHost::deleteRoute(uint32_t address, int ifIndex, std::string& error)
{
    nl_cache* raw = nullptr;
    if (const int err = rtnl_route_alloc_cache(sock_, AF_INET, 0, &raw); err < 0) {
        error = std::string("cannot read the route table: ") + nl_geterror(err);
        return TableUnreadable;
    }
    Cache cache(raw);
    for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
        auto* r = reinterpret_cast<rtnl_route*>(o);
        nl_addr* dst = rtnl_route_get_dst(r);
        uint32_t value = 0;
        if (rtnl_route_get_table(r) != RT_TABLE_MAIN || !ipv4Of(dst, value)
            || nl_addr_get_prefixlen(dst) != 32 || value != address
            || rtnl_route_get_protocol(r) != kOwnProtocol || rtnl_route_get_nnexthops(r) != 1
            || rtnl_route_nh_get_ifindex(rtnl_route_nexthop_n(r, 0)) != ifIndex)
            continue;
        if (const int err = rtnl_route_delete(sock_, r, 0); err < 0 && err != -NLE_OBJ_NOTFOUND)
            return kernelExit(err, "cannot delete the host route", error);
        return Ok;
    }
    return Ok;
}

} // namespace tvx::netpin
