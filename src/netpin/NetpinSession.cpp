#include "NetpinSession.h"

#include <linux/neighbour.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

namespace tvx::netpin {

namespace {

std::string printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= 40)
            break;
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return "'" + out + "'";
}

bool address(const std::string& word, uint32_t& out, std::string& why)
{
    const auto parsed = parseDottedQuad(word.c_str());
    if (!parsed) {
        why = printable(word) + " is not a dotted IPv4 address";
        return false;
    }
    out = *parsed;
    return true;
}

bool mac(const std::string& word, uint8_t out[6], std::string& why)
{
    if (!parseMac(word.c_str(), out)) {
        why = printable(word) + " is not a MAC address (xx:xx:xx:xx:xx:xx)";
        return false;
    }
    if (const char* bad = refusedMacClass(out)) {
        why = std::string("refused: ") + bad;
        return false;
    }
    return true;
}

bool ifIndex(const std::string& word, int& out, std::string& why)
{
    const auto parsed = parseIfIndex(word.c_str());
    if (!parsed) {
        why = printable(word) + " is not an interface index";
        return false;
    }
    out = *parsed;
    return true;
}

} // namespace

NetpinSession::NetpinSession(NetpinConfig config) : config_(std::move(config)) {}

NetpinSession::~NetpinSession() = default;

Exit NetpinSession::start(std::string& error, std::string& warning)
{
    if (const Exit e = host_.open(error); e != Ok)
        return e;
    // Known to the others before it makes anything, or they would take what
    // it makes for a gone helper's.
    if (!sessions_.open(error))
        return KernelRefused;
    sweep(warning);
    return Ok;
}

void NetpinSession::sweep(std::string& warning)
{
    // Every entry with the helper's mark is some helper's: those that no
    // running helper holds were left by helpers that are gone.
    std::vector<NeighbourEntry> neighbours;
    std::vector<HostRouteEntry> routes;
    std::string why;
    if (host_.neighbours(neighbours, why) != Ok || host_.markedRoutes(routes, why) != Ok) {
        warning = "what helpers that are gone left behind stays for now: " + why;
        return;
    }
    neighbours.erase(std::remove_if(neighbours.begin(), neighbours.end(),
                                    [](const NeighbourEntry& n) { return !isOwnNeighbour(n); }),
                     neighbours.end());
    if (neighbours.empty() && routes.empty())
        return;
    OwnedEntries live;
    if (!sessions_.othersHold(live, why)) {
        warning = "what helpers that are gone left behind stays for now: " + why;
        return;
    }
    std::string ignored;
    for (const auto& n : neighbours) {
        if (!live.claimsNeighbour(n.address, n.ifIndex))
            host_.unpin(n.address, n.mac.data(), n.ifIndex, ignored);
    }
    for (const auto& r : routes) {
        if (!live.claimsRoute(r.address, r.ifIndex))
            host_.deleteRoute(r.address, r.ifIndex, ignored);
    }
}

bool NetpinSession::inRanges(const std::vector<Ipv4Range>& ranges, uint32_t address) const
{
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const Ipv4Range& r) { return r.contains(address); });
}

std::string NetpinSession::refusedTarget(uint32_t address, int ifIndex)
{
    if (std::string why = host_.protectedAddress(address); !why.empty())
        return why;
    if (!inDefaultModuleRanges(address) && !inRanges(config_.allowed, address))
        return formatAddress(address)
            + " is outside the private, link-local, shared, documentation and benchmarking "
              "ranges (see README)";
    if (std::string why = host_.unusableInterface(ifIndex); !why.empty())
        return why;
    if (std::string why = host_.outsideItsSubnet(address, ifIndex); !why.empty())
        return why;
    // A router's network or another interface's: its traffic is not the
    // helper's to divert.
    if (!inRanges(config_.allowedRouted, address)) {
        if (std::string why = host_.routedElsewhere(address, ifIndex); !why.empty())
            return why + " (" TARVANIX_NETPIN_CONFIG " may allow it: allow-routed)";
    }
    return {};
}

Exit NetpinSession::handle(const std::string& line, std::string& text)
{
    for (char c : line) {
        if (c < 0x20 || c > 0x7e) {
            text = "control characters in the request";
            return BadArguments;
        }
    }
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w && words.size() < 6;)
        words.push_back(w);
    const std::string op = words.empty() ? std::string() : words[0];
    uint32_t target = 0;
    uint32_t local = 0;
    uint8_t hw[6] = {};
    int index = 0;

    // Syntax first, before any table is read.
    if (op == "pin" && words.size() == 4) {
        if (!address(words[1], target, text) || !mac(words[2], hw, text)
            || !ifIndex(words[3], index, text))
            return BadArguments;
    } else if (op == "unpin" && words.size() == 2) {
        if (!mac(words[1], hw, text))
            return BadArguments;
    } else if (op == "route-add" && words.size() == 4) {
        if (!address(words[1], target, text) || !address(words[2], local, text)
            || !ifIndex(words[3], index, text))
            return BadArguments;
    } else if (op == "route-del" && words.size() == 2) {
        if (!address(words[1], target, text))
            return BadArguments;
    } else {
        text = "unknown request (pin IPV4 MAC IFINDEX | unpin MAC | route-add IPV4 LOCAL "
               "IFINDEX | route-del IPV4)";
        return BadArguments;
    }

    // The host's tables as they are now: addresses come and go.
    if (const Exit e = host_.refresh(text); e != Ok)
        return e;
    if (op == "pin")
        return pin(target, hw, index, text);
    if (op == "unpin")
        return unpin(hw, text);
    if (op == "route-add")
        return addRoute(target, local, index, text);
    return deleteRoutes(target, text);
}

Exit NetpinSession::pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& text)
{
    if (std::string why = refusedTarget(address, ifIndex); !why.empty()) {
        text = "refused: " + why;
        return BadArguments;
    }
    if (host_.isHostMac(mac)) {
        text = "refused: the MAC address belongs to this host";
        return BadArguments;
    }
    const bool again = owned_.claimsNeighbour(address, ifIndex);
    if (!again && owned_.neighbours.size() >= kMaxNeighbours) {
        text = "refused: one caller may hold at most " + std::to_string(kMaxNeighbours)
            + " neighbour entries at once";
        return BadArguments;
    }
    std::optional<NeighbourEntry> existing;
    if (const Exit e = host_.neighbourAt(address, ifIndex, existing, text); e != Ok)
        return e;
    // An entry the kernel learned may be replaced (modules that share a
    // factory address need that); an entry someone made or stated may not.
    if (existing) {
        if (const std::string whose = foreignNeighbour(*existing); !whose.empty()) {
            text = "refused: " + formatAddress(address) + " has a neighbour entry on interface "
                + std::to_string(ifIndex)
                + " that the kernel did not learn and tarvanix-netpin did not make (" + whose + ")";
            return BadArguments;
        }
    }
    // Held before it exists, so that no other helper takes it for a gone
    // one's.
    const OwnedEntries before = owned_;
    auto& list = owned_.neighbours;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const OwnedNeighbour& n) {
                                  return n.address == address && n.ifIndex == ifIndex;
                              }),
               list.end());
    OwnedNeighbour entry{address, ifIndex, {}};
    std::memcpy(entry.mac.data(), mac, 6);
    list.push_back(entry);
    const Exit e = host_.pin(address, mac, ifIndex, text);
    if (e != Ok)
        owned_ = before;
    return e;
}

Exit NetpinSession::release(const std::function<bool(const OwnedNeighbour&)>& neighbour,
                            const std::function<bool(const OwnedRoute&)>& route, std::string& text)
{
    const bool any = std::any_of(owned_.neighbours.begin(), owned_.neighbours.end(), neighbour)
        || std::any_of(owned_.routes.begin(), owned_.routes.end(), route);
    if (!any)
        return Ok;
    // What another running helper holds too stays for it. One that does not
    // answer keeps nothing: no entry may outlive this caller for its sake.
    OwnedEntries live;
    std::string why;
    sessions_.othersHold(live, why);
    Exit result = Ok;
    const auto failed = [&](Exit e, const std::string& text_) {
        if (result == Ok) {
            result = e;
            text = text_;
        }
    };
    // The neighbour entries first, as the connection's procedure has it.
    std::vector<OwnedNeighbour> keptNeighbours;
    for (const auto& n : owned_.neighbours) {
        if (!neighbour(n)) {
            keptNeighbours.push_back(n);
            continue;
        }
        if (live.claimsNeighbour(n.address, n.ifIndex))
            continue;
        std::string problem;
        if (const Exit e = host_.unpin(n.address, n.mac.data(), n.ifIndex, problem); e != Ok) {
            keptNeighbours.push_back(n);
            failed(e, problem);
        }
    }
    owned_.neighbours = keptNeighbours;
    std::vector<OwnedRoute> keptRoutes;
    for (const auto& r : owned_.routes) {
        if (!route(r)) {
            keptRoutes.push_back(r);
            continue;
        }
        if (live.claimsRoute(r.address, r.ifIndex))
            continue;
        std::string problem;
        if (const Exit e = host_.deleteRoute(r.address, r.ifIndex, problem); e != Ok) {
            keptRoutes.push_back(r);
            failed(e, problem);
        }
    }
    owned_.routes = keptRoutes;
    return result;
}

Exit NetpinSession::unpin(const uint8_t mac[6], std::string& text)
{
    return release([&](const OwnedNeighbour& n) { return std::memcmp(n.mac.data(), mac, 6) == 0; },
                   [](const OwnedRoute&) { return false; }, text);
}

Exit NetpinSession::addRoute(uint32_t address, uint32_t local, int ifIndex, std::string& text)
{
    if (std::string why = refusedTarget(address, ifIndex); !why.empty()) {
        text = "refused: " + why;
        return BadArguments;
    }
    if (!host_.isLocalAddressOn(local, ifIndex)) {
        text = "refused: " + formatAddress(local) + " is not an address of interface "
            + std::to_string(ifIndex);
        return BadArguments;
    }
    if (owned_.claimsRoute(address, ifIndex))
        return Ok;
    if (owned_.routes.size() >= kMaxRoutes) {
        text = "refused: one caller may hold at most " + std::to_string(kMaxRoutes)
            + " host routes at once";
        return BadArguments;
    }
    std::vector<HostRouteEntry> routes;
    if (const Exit e = host_.hostRoutes(address, routes, text); e != Ok)
        return e;
    bool shared = false;
    std::vector<int> elsewhere;
    for (const auto& r : routes) {
        if (r.protocol != kOwnProtocol) {
            text = "refused: " + formatAddress(address)
                + " already has a host route that tarvanix-netpin did not make";
            return BadArguments;
        }
        if (r.ifIndex == ifIndex)
            shared = true;
        else
            elsewhere.push_back(r.ifIndex);
    }
    if (!elsewhere.empty()) {
        // Left by a helper that is gone, on another interface: it would take
        // the traffic meant for the new one. One a running helper holds is
        // kept, and the kernel then refuses the new one.
        OwnedEntries live;
        std::string why;
        if (sessions_.othersHold(live, why)) {
            std::string ignored;
            for (int other : elsewhere) {
                if (!live.claimsRoute(address, other))
                    host_.deleteRoute(address, other, ignored);
            }
        }
    }
    const OwnedEntries before = owned_;
    owned_.routes.push_back({address, ifIndex});
    // Another running caller's route to the same module through the same
    // interface serves this one as well.
    if (shared)
        return Ok;
    const Exit e = host_.addRoute(address, local, ifIndex, text);
    if (e != Ok)
        owned_ = before;
    return e;
}

Exit NetpinSession::deleteRoutes(uint32_t address, std::string& text)
{
    return release([](const OwnedNeighbour&) { return false; },
                   [&](const OwnedRoute& r) { return r.address == address; }, text);
}

void NetpinSession::finish()
{
    // What the kernel refuses to delete keeps the helper's mark, for the
    // next start's sweep.
    std::string ignored;
    release([](const OwnedNeighbour&) { return true; }, [](const OwnedRoute&) { return true; },
            ignored);
}

} // namespace tvx::netpin
