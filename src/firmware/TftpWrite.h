#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tvx {

// The firmware transfer's datagrams, as pure functions over byte buffers so
// that the worker, the tests and a fuzzer call the same code. The transfer is
// a TFTP write (RFC 1350 opcodes) whose request carries its options in a form
// of the module's own: "blksize=1024" is one string, not a name and a value.

constexpr size_t kRequestRoom = 100; // the request never grows beyond this
constexpr size_t kReceiveRoom = 100; // at most this much of any answer is read
constexpr size_t kBlockSize = 1024;
constexpr size_t kDataHeader = 4;
constexpr size_t kAckLength = 4;

// The name sent in the request: what follows the path's last "/", "\" or ":",
// or the whole path when it has none of them.
std::string_view firmwareFileName(std::string_view path);

// Length of the write request for a name of `nameLength` bytes and a file of
// `fileSize` bytes: name + digits of the size + 29.
size_t writeRequestLength(size_t nameLength, int64_t fileSize);

// The longest name whose request still fits the 100-byte room for this size.
size_t longestFileName(int64_t fileSize);

// Writes the request into `out` (kRequestRoom bytes). Returns its length, or
// 0 when it would not fit (nothing is written then).
size_t buildWriteRequest(std::string_view fileName, int64_t fileSize, uint8_t* out);

// The answer the request needs: at least two bytes, 0x00 0x06. What follows is
// not examined.
bool isOptionAck(const uint8_t* data, size_t length);

// Data packet header: opcode 3 and the low 16 bits of the block count.
void putDataHeader(uint32_t block, uint8_t* packet);

// Exactly four bytes: opcode 4 and the block-number bytes of the packet sent.
bool isAckFor(const uint8_t* data, size_t length, uint32_t block);

} // namespace tvx
