#pragma once

#include <cstddef>

namespace tvx {

// The framing of one reply line as a single receive delivered it: "%", the
// reply text, CR LF, in at most `received` <= 128 bytes. Kept apart from the
// socket so that every byte sequence a module can send is checked here alone.
//
// On a well-framed line copies the text with a terminating zero into
// `destination` (which holds at least `received` - 2 bytes) and returns its
// length (0 for "%" CR LF); -2 when the bytes are not framed so.
int frameReply(const char* received, size_t length, char* destination);

} // namespace tvx
