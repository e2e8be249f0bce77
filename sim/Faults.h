#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tvx::sim {

// One fault switch: `name[@COMMAND][=value]`. A switch without a command applies to every
// command it can apply to; one with a command (written without "$", as "GBN") only to that one.
struct FaultSwitch {
    std::string name;
    std::string command;
    std::string value;

    std::string text() const;
};

// The fault switches of one module. Each name is checked against the known set so a typo in a
// test fails loudly instead of testing nothing.
class Faults {
public:
    // Parses and adds one switch; false with `error` set when it is not a known switch.
    bool add(const std::string& text, std::string* error = nullptr);
    // Removes every switch with this name (all of them when `name` is empty).
    void clear(const std::string& name = {});

    const FaultSwitch* find(const std::string& name, const std::string& command = {}) const;
    bool has(const std::string& name, const std::string& command = {}) const
    {
        return find(name, command) != nullptr;
    }
    // The switch's value as a number, or `fallback` when absent, empty or not a number.
    long number(const std::string& name, const std::string& command, long fallback) const;
    // For the block-numbered transfer switches: whether `block` is the one the switch names.
    bool forBlock(const std::string& name, long block) const;

    const std::vector<FaultSwitch>& all() const { return switches_; }
    std::string describe() const;

    static const std::vector<std::string>& knownNames();

private:
    std::vector<FaultSwitch> switches_;
};

} // namespace tvx::sim
