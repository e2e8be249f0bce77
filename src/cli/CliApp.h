#pragma once

#include "cli/CliRequest.h"
#include "cli/TargetId.h"
#include "handover/DeviceRecords.h"
#include "handover/WorkerOwner.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <optional>

namespace tvx {
class DeviceRegistry;
}

namespace tvx::cli {

struct CliContext;
struct CommissionPlan;
class FleetRunner;
class TargetRun;

// One invocation of tarvanix-cli: refuses bad input before anything is sent,
// looks the targets up by a search, asks for the passwords it needs, runs the
// command on every target and reports. Returns the exit status.
class CliApp {
public:
    explicit CliApp(std::atomic<bool>& interrupted);

    int run(const CliRequest& request);
    // Any thread: every running worker stops and removes its temporary
    // entries; the runs waiting for them then end as interrupted.
    void stopWorkers() { workers_.stop(); }

private:
    int runCommand(const CliRequest& request);
    // Writes to standard output; the first failure is kept for the exit status.
    void printOut(const QByteArray& bytes);
    // Prints why the input was refused; the exit status for it.
    static int refused(const QString& text);

    int discover(const CliRequest& request, CliContext& context);
    int prepareSet(const CliRequest& request, CliContext& context);
    int prepareUpgrade(const CliRequest& request, CliContext& context);
    // Finds every target; the registry holds what the searches found. A
    // target named by an address that several modules answer is refused.
    int resolve(const CliRequest& request, CliContext& context, QList<TargetId>& targets,
                DeviceRegistry& found);
    // The row the searches found for `target`; null when none. Valid until
    // the registry changes.
    static const DiscoveryRecord* foundRow(const TargetId& target, const DeviceRegistry& found);
    // A target named by an address that several modules answer could be any
    // of them: refused, naming their MACs.
    static int refuseSharedAddresses(const QList<TargetId>& targets, const DeviceRegistry& found);
    std::optional<QByteArray> passwordFor(Command command, const TargetId& target,
                                          const DiscoveryRecord& row, QString& problem);
    void printGet(const CliRequest& request, const FleetRunner& fleet);
    // The summary of a run that changed modules: text, or --json.
    void printSummary(const CliRequest& request, const FleetRunner& fleet, qint64 wallMs,
                      Command command, bool waited);
    // Interrupted, any module failed, or all done.
    int exitStatus(const FleetRunner& fleet) const;
    // set --dry-run: each change as NAME: old -> new.
    void printChanges(const FleetRunner& fleet);
    // How long a wait looks for the modules again.
    static constexpr qint64 kWaitMs = 60000;
    // A module may still answer for a moment before it restarts: a wait
    // trusts an answer from where it was once this long has passed.
    static constexpr qint64 kRestartGraceMs = 8000;
    // Broadcasts, at most kWaitMs, until each of `runs`' modules answers
    // again: once it has been silent for one search, or when
    // `settled(index, row, ms since the wait began)` holds. The row each
    // answered with, none where it did not; nothing when interrupted.
    std::optional<QList<std::optional<DiscoveryRecord>>>
    awaitAnswers(const CliRequest& request, CliContext& context, const QList<TargetRun*>& runs,
                 const std::function<bool(qsizetype, const DiscoveryRecord&, qint64)>& settled);
    // reboot --wait, upgrade --wait: broadcasts until every module that took
    // the command answers again (bounded); upgrade then reads its firmware
    // version. A module that does not answer fails.
    void waitForModules(const CliRequest& request, CliContext& context, FleetRunner& fleet);
    // tty: one module's data port relayed to a pseudo-terminal until an
    // interrupt ends it.
    int tty(const CliRequest& request, CliContext& context);
    // set --plan: one broadcast, each line's module written by its MAC, then
    // every module looked for again at its address and read back.
    int commission(const CliRequest& request, CliContext& context);
    // A written module that does not answer again, or not where its line put
    // it, or not with its line's values, fails.
    void verifyPlan(const CliRequest& request, CliContext& context, const CommissionPlan& plan,
                    FleetRunner& fleet);

    std::atomic<bool>& interrupted_;
    // Every worker of the invocation; it goes last, after waiting for them.
    WorkerOwner workers_;
    int outputError_ = 0; // errno of the first failed write to standard output
    std::optional<QByteArray> environmentPassword_;
    bool environmentRead_ = false;
};

} // namespace tvx::cli
