#pragma once

#include "Faults.h"
#include "ModuleConfig.h"

#include <cstdint>
#include <vector>

namespace tvx::sim {

// What a module tells about itself in its answer to the 3-byte discovery request.
struct DiscoveryInfo {
    Mac mac{};
    std::uint32_t ip = 0; // host order
    std::uint32_t mask = 0; // host order
    std::string modelName;
    std::string deviceName;
    std::string firmware;
    std::string gateway;
    bool passwordSet = false;
    bool normalMode = true;
    std::uint16_t modelCode = 0;
};

DiscoveryInfo discoveryInfo(const ModuleConfig& config);

// True for exactly the request 55 01 AA.
bool isDiscoveryRequest(const std::uint8_t* data, std::size_t size);

// The module's reply: AA, the items 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, and the end marker 55.
// The "disc-bad", "disc-longname" and "disc-trailer" switches change it here.
std::vector<std::uint8_t> encodeDiscoveryReply(const DiscoveryInfo& info, const Faults& faults);

} // namespace tvx::sim
