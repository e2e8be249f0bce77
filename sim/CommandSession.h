#pragma once

#include "Faults.h"

#include <map>
#include <string>

namespace tvx::sim {

// What a command asks of the module besides its reply line.
enum class CommandAction {
    None,
    ApplyAndRestart, // "$SEI": take the pending writes, then restart
    Restart, // "$SER": restart, pending writes are lost
    ArmTransfer, // "$SEF": accept one firmware transfer
    Close, // the "close" fault: drop the connection instead of answering
};

struct CommandOutcome {
    std::string command; // the command name without "$" ("GBN", "LOG", "SEI"); empty if unknown
    std::string reply; // the whole reply line as it goes on the wire, "%" ... CR LF
    CommandAction action = CommandAction::None;
};

// One logged-in (or not yet logged-in) conversation on the command port, as a module keeps it:
// it answers one line at a time from the module's settings and collects writes until "$SEI".
// Transport faults (silence, delays, split segments) are the caller's; faults that change the
// reply's text are applied here, so the encoder can be tested on its own.
class CommandSession {
public:
    // `settings` is the module's live state; it changes only through apply().
    CommandSession(std::map<std::string, std::string>& settings, const Faults& faults,
                   const std::string& modelName, unsigned modelCode);

    // `line` is one request without its CR LF and without the zero bytes a sender may put
    // after a line.
    CommandOutcome handle(const std::string& line);

    bool loggedIn() const { return loggedIn_; }
    const std::map<std::string, std::string>& pending() const { return pending_; }
    // Copies the pending writes into the live settings ("$SEI"); returns how many fields changed.
    int apply();

private:
    CommandOutcome answer(const std::string& command, const std::string& text,
                          CommandAction action = CommandAction::None) const;

    std::map<std::string, std::string>& settings_;
    const Faults& faults_;
    std::string modelName_;
    unsigned modelCode_;
    bool loggedIn_ = false;
    std::map<std::string, std::string> pending_;
};

} // namespace tvx::sim
