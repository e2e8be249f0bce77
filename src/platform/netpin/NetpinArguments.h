#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

} // namespace tvx::netpin
