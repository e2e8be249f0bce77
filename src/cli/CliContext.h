#pragma once

#include "config/SettingsEdit.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace tvx {
class HostNetwork;
class WorkerOwner;
} // namespace tvx

namespace tvx::cli {

class TerminalDisplay;

// What every run of one invocation shares: the host's tables, the terminal,
// the log, and what the command line asked each target to get.
struct CliContext {
    std::shared_ptr<HostNetwork> net;
    // Runs every worker of the invocation; each run waits on it for its own.
    WorkerOwner* workers = nullptr;
    // Starts the helper; the first search runs it once, after every input of
    // the command line was checked.
    std::function<void()> startHelper;
    TerminalDisplay* display = nullptr;
    // Worker log lines (any thread); printed only with --verbose.
    std::function<void(const QString&)> log;
    std::atomic<bool>* interrupted = nullptr;
    // --quiet: notes are left out; failures are still printed.
    bool quiet = false;

    QList<Assignment> assignments; // set
    bool fromFile = false; // set --from: the values came from a file
    QString savedFromMac; // set --from: the file's module, if it names one
    bool withAddress = false; // set --from --with-address
    bool dryRun = false; // set --dry-run
    std::optional<QByteArray> newPassword; // set --change-password
    QByteArray firmwarePath; // upgrade, file system bytes
};

} // namespace tvx::cli
