#pragma once

#include "cli/CliRequest.h"
#include "config/SettingsEdit.h"
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
    // How a target that did not fail ended: set writes only what changes.
    enum class Kind { Done, Unchanged, DryRun };

    QString target; // as given, or the module's address for --all
    bool found = false; // a search found the module: mac, ip, devName hold its row
    QString mac;
    QString ip;
    QString devName;
    bool done = false;
    bool ok = false;
    Kind kind = Kind::Done;
    QString message; // the windows' text for a failure
    qint64 ms = 0;
    std::optional<SettingsRecord> settings; // get
    QList<SettingsChange> changes; // set: what was (or would be) written
    QString firmwareVersion; // upgrade --wait: as read afterwards
    int planLine = 0; // set --plan: the plan's line of this module
    qint64 endedAt = 0; // when it was done, on QElapsedTimer's clock (msecsSinceReference)
};

// What a set of `assignments` would write to a module that reported `asRead`,
// by the rules of SettingsUpdate with what the command line asked. Empty when
// they pass (`toWrite` and `changes` then hold the write and what it
// changes), else why they were refused. `newPassword`: the write also sets
// set --change-password's password.
QString prepareWrite(const CliContext& context, const QList<Assignment>& assignments,
                     const SettingsRecord& asRead, SettingsRecord& toWrite,
                     QList<SettingsChange>& changes, bool newPassword);

// One target of a command: the workers the windows start, each step with its
// own run token, progress and connection. get is one read; set reads, checks
// the changes as "Save to Module" checks them and writes, all on one
// connection; reboot and upgrade are one run of their worker. A step ends when
// its worker closes its progress view; `onDone` runs on the UI thread when the
// target is done.
class TargetRun {
public:
    TargetRun(CliContext& context, Command command, QString name, const DiscoveryRecord& row,
              QByteArray password, std::function<void()> onDone);
    ~TargetRun();
    TargetRun(const TargetRun&) = delete;
    TargetRun& operator=(const TargetRun&) = delete;

    // A target that cannot start (not found, no password): done at once. `row`: the
    // module the search found for it, which the summary names.
    static std::unique_ptr<TargetRun> failed(CliContext& context, QString name,
                                             const QString& message,
                                             const DiscoveryRecord* row = nullptr);

    void start();
    void setOnDone(std::function<void()> call) { onDone_ = std::move(call); }
    // set: values of this target's own instead of the command line's.
    void setAssignments(QList<Assignment> assignments) { assignments_ = std::move(assignments); }
    const TargetOutcome& outcome() const { return outcome_; }
    // What happens after the run (waiting for the module) adds to the outcome.
    TargetOutcome& outcome() { return outcome_; }
    // A read of the same module with the same password, under the same name,
    // as it answered a later search.
    std::unique_ptr<TargetRun> followUpRead(const DiscoveryRecord& row) const;

private:
    struct Step {
        std::shared_ptr<RunToken> token;
        std::unique_ptr<RunView> view;
        std::unique_ptr<TerminalPrompter> prompter;
    };

    TargetRun(CliContext& context, QString name);
    void noteFound(const DiscoveryRecord& row);
    // The step's bar is the part `from` to `to` of the target's progress.
    Step& newStep(int barMaximum, std::function<void(const RunToken& run)> onEnd, double from = 0,
                  double to = 1);
    void startRead();
    void afterRead(const RunToken& run);
    void startUpdate();
    // What set writes to the module that reported `asRead`; nothing when it
    // would change nothing, for a dry run, or when refused (`refusal_`).
    std::optional<SettingsRecord> decideWrite(const SettingsRecord& asRead);
    void afterUpdate(const RunToken& run);
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
    std::optional<QList<Assignment>> assignments_;
    std::vector<Step> steps_;
    std::shared_ptr<SettingsRecord> readBack_;
    QString refusal_;
    QElapsedTimer timer_;
    TargetOutcome outcome_;
};

} // namespace tvx::cli
