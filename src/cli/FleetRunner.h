#pragma once

#include "cli/TargetRun.h"

#include <QByteArray>

#include <memory>
#include <vector>

namespace tvx::cli {

struct CliContext;

// A count with its noun in agreement: "1 target", "2 targets".
QString countOf(qsizetype n, const QString& one, const QString& many);

// Runs the targets of one command, at most `jobs` at once (the windows' rule,
// RunQueue), and reports them. Each target has its own runs, tokens and
// connections; two targets on the same module are still serialised by the
// host network's module locks.
class FleetRunner {
public:
    FleetRunner(CliContext& context, int jobs);

    // A target to run; one that has already failed is only reported.
    void add(std::unique_ptr<TargetRun> run);
    // Runs every target to its end, or until an interrupt; then waits for
    // every worker to end. The wall-clock time of the runs in milliseconds.
    qint64 run();

    const std::vector<std::unique_ptr<TargetRun>>& targets() const { return runs_; }
    int failures() const;
    // One row per target: target, MAC, IP, result, seconds, message; then a
    // line of counts with the wall-clock time and the sum of the targets' times.
    QByteArray summary(qint64 wallMs) const;
    // The same as the JSON array of docs/json.md: one object per target.
    QByteArray summaryJson(Command command, bool waited) const;

private:
    CliContext& context_;
    int jobs_;
    std::vector<std::unique_ptr<TargetRun>> runs_;
};

} // namespace tvx::cli
