#pragma once

#include "handover/DeviceRecords.h"

#include <cstddef>
#include <cstdint>

namespace tvx {

// The one UDP exchange by which modules are found: the host sends a three-byte
// request to port 5000, and every module that receives it answers with one
// datagram of type-length-value items framed by 0xAA and 0x55.
constexpr uint16_t kDiscoveryPort = 5000;
constexpr uint8_t kDiscoveryRequest[3] = {0x55, 0x01, 0xAA};
// The receiver reads at most this many bytes of a reply.
constexpr size_t kDiscoveryReplyMax = 1024;

// Turns one received reply of `length` bytes into `record` (zero-filled first;
// `ipText` is left for the caller, who knows the sender). False for a reply
// that is invalid as a whole; `record` is then not to be used.
bool parseReply(const uint8_t* data, size_t length, DiscoveryRecord& record);

} // namespace tvx
