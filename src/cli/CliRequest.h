#pragma once

#include "handover/RunQueue.h"

#include <QString>
#include <QStringList>

namespace tvx::cli {

enum class Command { None, Discover, Get, Set, Reboot, Upgrade, Tty };

// What the command line asked for, before anything is looked up or sent.
struct CliRequest {
    Command command = Command::None;
    bool help = false;
    bool version = false;

    QStringList targets; // as typed
    bool all = false;
    QString targetsFile;
    int jobs = kDefaultJobs;

    QString searchIp; // discover --ip
    bool json = false;
    bool csv = false;

    QString fromFile; // set --from
    QString planFile; // set --plan
    QStringList assignments; // set NAME=VALUE
    bool changePassword = false;
    bool dryRun = false; // set --dry-run
    bool withAddress = false; // set --from --with-address
    bool wait = false; // reboot, upgrade --wait
    bool quiet = false;

    QString firmware; // upgrade --firmware
    bool verbose = false;

    // tty: an option given an empty value (--port=) is as if not given, so
    // that a unit may pass variables its configuration leaves empty.
    QString link; // --link
    int port = 0; // --port; 0: the module's own listen port
    QString group; // --group
    int mode = -1; // --mode; -1: as the group option implies
};

// The request, or the reason the command line was refused (one line).
struct ParsedCommandLine {
    CliRequest request;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// `args` without the program name.
ParsedCommandLine parseCommandLine(const QStringList& args);

} // namespace tvx::cli
