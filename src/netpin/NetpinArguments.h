#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Argument checks of the privileged helper. Kept apart from the netlink code
// so they can be tested without a kernel: nothing here trusts its input.
namespace tvx::netpin {

// Exit codes, shared with the utility's side (SystemNetTables).
enum Exit { Ok = 0, BadArguments = 1, NoPrivilege = 2, KernelRefused = 3, TableUnreadable = 4 };

// Exactly four decimal octets 0-255 without leading zeros, the form the
// utility formats. Network byte order.
std::optional<uint32_t> parseDottedQuad(const char* text);

// Exactly six two-digit hexadecimal groups separated by ':', either case.
bool parseMac(const char* text, uint8_t out[6]);

// A positive decimal interface index without sign or leading zeros.
std::optional<int> parseIfIndex(const char* text);

// Why an address may never be pinned or routed (nullptr when it may): the
// unspecified network, loopback, multicast, reserved and broadcast.
const char* refusedAddressClass(uint32_t address);

// Why a link-layer address may never be pinned (nullptr when it may).
const char* refusedMacClass(const uint8_t mac[6]);

std::string formatAddress(uint32_t address);

// An IPv4 network, both values in network byte order.
struct Ipv4Range {
    uint32_t network = 0;
    uint32_t mask = 0;
    bool contains(uint32_t address) const { return (address & mask) == network; }
};

// The ranges in which modules are expected without further ado: private,
// link-local, shared (carrier-grade NAT), documentation and benchmark.
bool inDefaultModuleRanges(uint32_t address);

// The administrator's configuration, netpin.conf.
struct NetpinConfig {
    // Ranges allowed beyond the usual ones.
    std::vector<Ipv4Range> allowed;
    // Ranges allowed even where one of the host's routes other than the
    // default one leads there (a router's or another interface's network).
    std::vector<Ipv4Range> allowedRouted;
};

// Reads the configuration text: one "allow A.B.C.D/N" or "allow-routed
// A.B.C.D/N" a line (the second implies the first), '#' starts a comment,
// blank lines are ignored. False with `error` naming the first bad line;
// nothing of a bad file is taken.
bool parseNetpinConfig(const std::string& text, NetpinConfig& out, std::string& error);

} // namespace tvx::netpin
