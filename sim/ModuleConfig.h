#pragma once

#include "Faults.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tvx::sim {

using Mac = std::array<std::uint8_t, 6>;

// What one simulated module is: its identity, which never changes, and its settings, which the
// command protocol reads and (after "$SEI") writes. Settings are kept as the text the wire
// carries, keyed by the simulator's own field names (see CommandTable).
struct ModuleConfig {
    std::string name; // label in transcripts and on the control socket
    Mac mac{};
    std::string interfaceName; // bind every socket to this link; empty: bind to the address
    std::string bindAddress; // without a link: the address to bind (default: its own)
    int routeMetric = 0; // with a link: metric of the link's own default route, put
        // back after an address change (0: none)
    std::string modelName = "TX-110";
    std::uint16_t modelCode = 0x0A01;
    bool normalMode = true; // discovery item 11
    int restartMs = 1500; // silence after "$SEI", "$SER" or a firmware update
    int flashMs = 1000; // time between the last firmware block and the restart
    std::map<std::string, std::string> settings;
    Faults faults;

    // Defaults for every field a read command returns; `ip` may carry "/prefix".
    static ModuleConfig withDefaults(const std::string& name, const Mac& mac,
                                     const std::string& ip);

    // Applies one `key=value` token of a module definition; false with `error` on a bad token.
    bool apply(const std::string& token, std::string* error);
    // Parses "name key=value ..." (the form used on the command line and in module files).
    static bool parse(const std::string& line, ModuleConfig& out, std::string* error);
};

std::string macText(const Mac& mac);
bool parseMac(const std::string& text, Mac& out);
// Dotted-quad check without the resolver's leniency: four decimal parts 0..255.
bool parseDotted(const std::string& text, std::uint32_t& hostOrder);
std::string prefixToMask(int prefix);

} // namespace tvx::sim
