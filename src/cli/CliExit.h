#pragma once

namespace tvx::cli {

// The exit statuses of tarvanix-cli, as --help and the README list them.
enum CliExit : int {
    ExitOk = 0,
    // At least one target failed; the summary names each one.
    ExitTargetFailed = 1,
    // The command line, a targets file, a settings file or the firmware file
    // was refused before anything was sent to a module.
    ExitUsage = 2,
    // The search could not run, or found no module to act on; for discover,
    // no module answered (its empty list is still printed).
    ExitNoModules = 3,
    // Standard output could not be written (a full disk, a closed pipe): what
    // a script would read is missing, whatever the run did to the modules.
    ExitOutputFailed = 4,
    // Ended by SIGINT, SIGTERM or SIGHUP after every run had stopped and
    // removed its temporary entries.
    ExitInterrupted = 130,
};

} // namespace tvx::cli
