#pragma once

#include "platform/UniqueFd.h"

#include <QString>

namespace tvx {

// The fixed path under which programs find a bridge's pseudo-terminal: a
// symbolic link to /dev/pts/N. Only one bridge of the host may hold a path at
// a time; a bridge takes it where nothing is, or over the link a killed
// bridge left behind (a link into /dev/pts/ that no live bridge holds), and
// never over anything else. The link is removed when the object goes, if it
// still points where it was made to point.
class TtyLink {
public:
    enum class Claim { Taken, InUse, Occupied, Failed };

    TtyLink() = default;
    ~TtyLink();
    TtyLink(const TtyLink&) = delete;
    TtyLink& operator=(const TtyLink&) = delete;

    // Holds `path` for this bridge before anything else is done, so that a
    // path that cannot be used is refused first. `problem` says why not.
    Claim claim(const QString& path, QString& problem);
    // Makes the claimed path point to `target`. Empty, or why not.
    QString make(const QString& target);
    void remove();

    const QString& path() const { return path_; }

private:
    QString path_;
    QString target_;
    // An abstract socket named after the path: the kernel lets it go however
    // the bridge ends, so a killed bridge never keeps its path taken.
    UniqueFd hold_;
    bool made_ = false;
};

} // namespace tvx
