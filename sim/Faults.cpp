#include "Faults.h"

#include <algorithm>
#include <cstdlib>

namespace tvx::sim {

const std::vector<std::string>& Faults::knownNames()
{
    static const std::vector<std::string> names = {
        // command protocol
        "noreply",
        "delay",
        "split",
        "long",
        "noecho",
        "empty",
        "noframe",
        "close",
        "refuselogin",
        "noaccept",
        // discovery
        "disc-silent",
        "disc-dup",
        "disc-bcast",
        "disc-bad",
        "disc-longname",
        "disc-trailer",
        "disc-delay",
        "disc-flood",
        // firmware transfer
        "tftp-silent",
        "tftp-ack-for-oack",
        "tftp-drop-ack",
        "tftp-wrong-block",
        "tftp-ack5",
        "tftp-error",
        "tftp-foreign",
        "tftp-dup-ack",
    };
    return names;
}

std::string FaultSwitch::text() const
{
    std::string t = name;
    if (!command.empty())
        t += "@" + command;
    if (!value.empty())
        t += "=" + value;
    return t;
}

bool Faults::add(const std::string& text, std::string* error)
{
    FaultSwitch s;
    std::string rest = text;
    if (const auto eq = rest.find('='); eq != std::string::npos) {
        s.value = rest.substr(eq + 1);
        rest.resize(eq);
    }
    if (const auto at = rest.find('@'); at != std::string::npos) {
        s.command = rest.substr(at + 1);
        rest.resize(at);
        if (!s.command.empty() && s.command.front() == '$')
            s.command.erase(0, 1);
    }
    s.name = rest;
    const auto& known = knownNames();
    if (std::find(known.begin(), known.end(), s.name) == known.end()) {
        if (error)
            *error = "unknown fault switch '" + s.name + "'";
        return false;
    }
    if (s.name == "disc-bad") {
        static const std::vector<std::string> kinds = {"start",   "end",   "type5", "type13",
                                                       "overrun", "fixed", "mac",   "noend"};
        if (std::find(kinds.begin(), kinds.end(), s.value) == kinds.end()) {
            if (error)
                *error =
                    "disc-bad needs one of start, end, type5, type13, overrun, fixed, mac, noend";
            return false;
        }
    }
    switches_.push_back(std::move(s));
    return true;
}

void Faults::clear(const std::string& name)
{
    if (name.empty()) {
        switches_.clear();
        return;
    }
    std::erase_if(switches_, [&](const FaultSwitch& s) { return s.name == name; });
}

const FaultSwitch* Faults::find(const std::string& name, const std::string& command) const
{
    for (const FaultSwitch& s : switches_) {
        if (s.name == name && (s.command.empty() || s.command == command))
            return &s;
    }
    return nullptr;
}

long Faults::number(const std::string& name, const std::string& command, long fallback) const
{
    const FaultSwitch* s = find(name, command);
    if (!s || s->value.empty())
        return fallback;
    char* end = nullptr;
    const long v = std::strtol(s->value.c_str(), &end, 10);
    return (end && *end == '\0') ? v : fallback;
}

bool Faults::forBlock(const std::string& name, long block) const
{
    for (const FaultSwitch& s : switches_) {
        if (s.name != name)
            continue;
        // The value is the block number; an empty value means every block.
        if (s.value.empty())
            return true;
        const std::string first = s.value.substr(0, s.value.find(':'));
        if (std::strtol(first.c_str(), nullptr, 10) == block)
            return true;
    }
    return false;
}

std::string Faults::describe() const
{
    std::string out;
    for (const FaultSwitch& s : switches_) {
        if (!out.empty())
            out += ' ';
        out += s.text();
    }
    return out;
}

} // namespace tvx::sim
