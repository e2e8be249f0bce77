#pragma once

#include <cstdint>

namespace tvx {

// The address that a malformed dotted quad shows as: 255.255.255.255.
constexpr uint32_t kDottedQuadError = 0xFFFFFFFFu;

// Strict dotted-quad reading for the address controls: exactly four groups of
// decimal digits separated by single dots, nothing around them, each group at
// most 255 (leading zeros allowed, so 010 is 10, never octal). The value has the
// first group in its high byte; any other text gives kDottedQuadError.
uint32_t parseDottedQuad(const char* text);

// "%u.%u.%u.%u", high byte first; `out` holds at least 16 characters.
void formatDottedQuad(uint32_t value, char* out);

} // namespace tvx
