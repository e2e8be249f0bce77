#pragma once

#include <cstdint>

namespace tvx {

constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// Dotted text to a network-order address, as the classic inet_addr reads it
// (1 to 4 parts, each decimal, octal with a leading 0, or hex with 0x).
// INADDR_NONE for text it does not accept; with `strict`, 0 is INADDR_NONE too.
uint32_t parseIpv4(const char* text, bool strict);

// "%u.%u.%u.%u", first octet first; `out` holds at least 16 characters.
void formatIpv4(uint32_t address, char* out);

// Six two-digit hexadecimal groups with any separator, either case.
void macTextToBytes(const char* text, uint8_t out[6]);

// Six two-digit hexadecimal groups joined by ':' or '-', either case, and
// nothing else; false (and `out` untouched) for any other text.
bool parseMacText(const char* text, uint8_t out[6]);

// True when the module at the picked address reported a MAC (`reported`,
// its "$GLM" value) that is not the picked one (`picked`), compared as six
// bytes. A report that is empty or no MAC text proves nothing and is no
// mismatch.
bool isOtherModule(const char* picked, const char* reported);

// "%02X:%02X:%02X:%02X:%02X:%02X" into `out` (at least 18 characters).
void formatMac(const uint8_t mac[6], char* out);

} // namespace tvx
