#pragma once

#include <cstdint>
#include <string_view>

namespace tvx {

// The integer conversion the configuration window applies to what the user
// typed. The whole text must be one number: leading spaces, then either an
// optional sign and decimal digits within the signed 32-bit range, or a
// hexadecimal number introduced by "$", "x", "X", "0x" or "0X" with at most
// eight significant digits (all 32 bits, so 0xFFFFFFFF is -1). Nothing may
// follow the number, not even a space. False when the text is not such a number.
bool textToInt(std::string_view text, int32_t& value);

} // namespace tvx
