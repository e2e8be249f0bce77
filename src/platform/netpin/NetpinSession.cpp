#include "NetpinSession.h"

#include <linux/neighbour.h>

#include <algorithm>
#include <cstring>
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

NetpinSession::NetpinSession(std::vector<Ipv4Range> allowed) : allowed_(std::move(allowed)) {}

NetpinSession::~NetpinSession() = default;

Exit NetpinSession::start(std::string& error, std::string& warning)
{
    if (const Exit e = host_.open(error); e != Ok)
        return e;
    if (!records_.open(warning))
        warning += "; entries are removed when the caller ends, but not after the helper "
                   "itself was killed";
    else
        sweep();
    return Ok;
}

void NetpinSession::sweep()
{
    // Left by helpers that are gone; kept where a running one holds the same.
    const OwnedEntries gone = records_.takeAbandoned();
    const OwnedEntries live = records_.liveClaims();
    std::string ignored;
    for (const auto& n : gone.neighbours) {
        if (!live.claimsNeighbour(n.address, n.ifIndex))
            host_.unpin(n.address, n.mac.data(), n.ifIndex, ignored);
    }
    for (const auto& r : gone.routes) {
        if (!live.claimsRoute(r.address, r.ifIndex))
            host_.deleteRoute(r.address, r.ifIndex, ignored);
    }
    records_.finishSweep();
}

std::string NetpinSession::refusedTarget(uint32_t address, int ifIndex)
{
    if (std::string why = host_.protectedAddress(address); !why.empty())
        return why;
    const bool allowed = inDefaultModuleRanges(address)
        || std::any_of(allowed_.begin(), allowed_.end(),
                       [&](const Ipv4Range& r) { return r.contains(address); });
    if (!allowed)
        return formatAddress(address)
            + " is outside the private, link-local, shared and "
              "documentation ranges (see README)";
    if (std::string why = host_.unusableInterface(ifIndex); !why.empty())
        return why;
    return host_.outsideItsSubnet(address, ifIndex);
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
    std::optional<NeighbourEntry> existing;
    if (const Exit e = host_.neighbourAt(address, ifIndex, existing, text); e != Ok)
        return e;
    // A learned entry may be replaced (modules that share a factory address
    // need that); an entry someone made to stay may not.
    if (existing && (existing->state & (NUD_PERMANENT | NUD_NOARP))
        && existing->protocol != kOwnProtocol) {
        text = "refused: " + formatAddress(address) + " has a permanent entry on interface "
            + std::to_string(ifIndex) + " that tarvanix-netpin did not make";
        return BadArguments;
    }
    // Written down before it exists, so that no crash leaves it unrecorded.
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
    if (records_.isOpen() && !records_.write(owned_)) {
        owned_ = before;
        text = "cannot write the owner record";
        return KernelRefused;
    }
    const Exit e = host_.pin(address, mac, ifIndex, text);
    if (e != Ok) {
        owned_ = before;
        records_.write(owned_);
    }
    return e;
}

Exit NetpinSession::unpin(const uint8_t mac[6], std::string& text)
{
    const OwnedEntries live = records_.liveClaims();
    Exit result = Ok;
    std::vector<OwnedNeighbour> kept;
    for (const auto& n : owned_.neighbours) {
        if (std::memcmp(n.mac.data(), mac, 6) != 0) {
            kept.push_back(n);
            continue;
        }
        // Another caller reaching the same module holds the same entry.
        if (live.claimsNeighbour(n.address, n.ifIndex))
            continue;
        std::string why;
        if (const Exit e = host_.unpin(n.address, mac, n.ifIndex, why); e != Ok) {
            kept.push_back(n);
            if (result == Ok) {
                result = e;
                text = why;
            }
        }
    }
    owned_.neighbours = kept;
    records_.write(owned_);
    return result;
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
    std::vector<HostRouteEntry> routes;
    if (const Exit e = host_.hostRoutes(address, routes, text); e != Ok)
        return e;
    const OwnedEntries live = records_.liveClaims();
    bool shared = false;
    for (const auto& r : routes) {
        if (r.protocol != kOwnProtocol) {
            text = "refused: " + formatAddress(address)
                + " already has a host route that tarvanix-netpin did not make";
            return BadArguments;
        }
        if (r.ifIndex == ifIndex)
            shared = true;
        else if (!live.claimsRoute(address, r.ifIndex)) {
            // Left by a helper that is gone, on another interface: it would
            // take the traffic meant for the new one.
            std::string ignored;
            host_.deleteRoute(address, r.ifIndex, ignored);
        }
    }
    const OwnedEntries before = owned_;
    owned_.routes.push_back({address, ifIndex});
    if (records_.isOpen() && !records_.write(owned_)) {
        owned_ = before;
        text = "cannot write the owner record";
        return KernelRefused;
    }
    // Another running caller's route to the same module through the same
    // interface serves this one as well.
    if (shared)
        return Ok;
    const Exit e = host_.addRoute(address, local, ifIndex, text);
    if (e != Ok) {
        owned_ = before;
        records_.write(owned_);
    }
    return e;
}

Exit NetpinSession::deleteRoutes(uint32_t address, std::string& text)
{
    const OwnedEntries live = records_.liveClaims();
    Exit result = Ok;
    std::vector<OwnedRoute> kept;
    for (const auto& r : owned_.routes) {
        if (r.address != address) {
            kept.push_back(r);
            continue;
        }
        if (live.claimsRoute(r.address, r.ifIndex))
            continue;
        std::string why;
        if (const Exit e = host_.deleteRoute(r.address, r.ifIndex, why); e != Ok) {
            kept.push_back(r);
            if (result == Ok) {
                result = e;
                text = why;
            }
        }
    }
    owned_.routes = kept;
    records_.write(owned_);
    return result;
}

void NetpinSession::finish()
{
    std::string ignored;
    std::vector<std::array<uint8_t, 6>> macs;
    for (const auto& n : owned_.neighbours) {
        if (std::find(macs.begin(), macs.end(), n.mac) == macs.end())
            macs.push_back(n.mac);
    }
    for (const auto& m : macs)
        unpin(m.data(), ignored);
    std::vector<uint32_t> addresses;
    for (const auto& r : owned_.routes) {
        if (std::find(addresses.begin(), addresses.end(), r.address) == addresses.end())
            addresses.push_back(r.address);
    }
    for (uint32_t a : addresses)
        deleteRoutes(a, ignored);
    // What the kernel refused to delete stays recorded, and the record
    // unlocked, for the next start's sweep.
    if (owned_.neighbours.empty() && owned_.routes.empty())
        records_.close();
}

} // namespace tvx::netpin
