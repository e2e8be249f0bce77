#pragma once

#include "platform/UniqueFd.h"

#include <QString>

#include <sys/types.h>

namespace tvx {

// A pseudo-terminal pair in raw mode, for a program that expects a serial
// port. The master side is ours; the slave side is what programs open. One
// slave descriptor stays open here for the pair's whole life, so the master
// never reports a hang-up when the last program closes the terminal: a
// terminal program that is closed and opened again finds the same port.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Empty when the pair is open (master non-blocking, slave raw), else why not.
    QString open();
    // Gives the slave side to `group` (unless -1) with permissions `mode`
    // (unless 0), so the members of a group may open it. Empty or why not.
    QString setAccess(gid_t group, mode_t mode);

    int master() const { return master_.get(); }
    // /dev/pts/N
    const QString& slavePath() const { return slavePath_; }

private:
    UniqueFd master_;
    UniqueFd slave_;
    QString slavePath_;
};

} // namespace tvx
