#pragma once

#include "cli/CliRequest.h"
#include "handover/DeviceRecords.h"
#include "handover/RunToken.h"
#include "handover/WorkerOutcome.h"
#include "protocol/SettingsRecord.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tvx::cli {

class RunView;
class TerminalPrompter;
struct CliContext;

// How one target ended, for the summary.
struct TargetOutcome {
    QString target;  // as given, or the module's address for --all
    QString mac;
    QString ip;
    bool done = false;
    bool ok = false;
    QString message; // the windows' text for a failure
    qint64 ms = 0;
    std::optional<SettingsRecord> settings; // get
};

// One target of a command: the same workers the windows start, each step with
// its own run token, progress and connection. get is one read; set is a read,
// the changes checked as "Save to Module" checks them, then a write; reboot
// and upgrade are one run of their worker. A step ends when its worker closes
// its progress view; `onDone` runs on the UI thread when the target is done.
class TargetRun {
public:
    TargetRun(CliContext& context, Command command, QString name, const DiscoveryRecord& row,
              QByteArray password, std::function<void()> onDone);
    ~TargetRun();
    TargetRun(const TargetRun&) = delete;
    TargetRun& operator=(const TargetRun&) = delete;

    // A target that cannot start (not found, no password): done at once.
    static std::unique_ptr<TargetRun> failed(CliContext& context, QString name,
                                             const QString& message);

    void start();
    void setOnDone(std::function<void()> call) { onDone_ = std::move(call); }
    const TargetOutcome& outcome() const { return outcome_; }

private:
    struct Step {
        std::shared_ptr<RunToken> token;
        std::unique_ptr<RunView> view;
        std::unique_ptr<TerminalPrompter> prompter;
    };

    TargetRun(CliContext& context, QString name);
    Step& newStep(int barMaximum, std::function<void(int result)> onEnd);
    void startRead();
    void afterRead(int result);
    void startWrite(const SettingsRecord& asRead, const SettingsRecord& record);
    void startReboot();
    void startUpgrade();
    // A failure's message is printed unless the run has shown it already.
    // The one reading of a worker's outcome here; `operation` names a failure
    // that has no message of its own (empty: nothing to add).
    void endStep(const WorkerOutcome& outcome, const QString& operation = {});
    void finish(bool ok, const QString& message, bool alreadyShown = false);

    CliContext& context_;
    Command command_ = Command::None;
    QString name_;
    DiscoveryRecord row_{};
    QByteArray password_;
    std::function<void()> onDone_;
    std::vector<Step> steps_;
    std::shared_ptr<SettingsRecord> readBack_;
    QElapsedTimer timer_;
    TargetOutcome outcome_;
};

} // namespace tvx::cli
