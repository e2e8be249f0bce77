#pragma once

#include "cli/SettingsEdit.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace tvx {
class HostNetwork;
}

namespace tvx::cli {

class TerminalDisplay;

// What every run of one invocation shares: the host's tables, the terminal,
// the log, and what the command line asked each target to get.
struct CliContext {
    std::shared_ptr<HostNetwork> net;
    TerminalDisplay* display = nullptr;
    // Worker log lines (any thread); printed only with --verbose.
    std::function<void(const QString&)> log;
    std::atomic<bool>* interrupted = nullptr;

    QList<Assignment> assignments;           // set
    std::optional<QByteArray> newPassword;   // set --change-password
    QByteArray firmwarePath;                 // upgrade, file system bytes
};

} // namespace tvx::cli
