#pragma once

#include <string>
#include <vector>

namespace tvx::sim {

// How a written value is checked before the module takes it.
enum class ValueKind {
    Text,
    Digits,
    Address,
    Flag,
    Switches,
    HexPair,
    DataFormat,
    FlowControl,
    Interface,
    OpMode,
    Password,
    ReadOnly
};

// One setting: the read command that returns it, the write command that changes it (empty when
// the field is read-only) and its check.
struct CommandEntry {
    const char* read;
    const char* write;
    const char* field;
    ValueKind kind;
    unsigned maxLength;
};

const std::vector<CommandEntry>& commandTable();
bool valueAccepted(ValueKind kind, unsigned maxLength, const std::string& value);

} // namespace tvx::sim
