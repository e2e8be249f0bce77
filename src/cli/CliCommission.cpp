// set --plan: many modules, often fresh from the box on one factory address, each
// given its own line of settings, then looked for again and checked.
#include "cli/CliApp.h"

#include "cli/CliContext.h"
#include "cli/CliExit.h"
#include "cli/CliSearch.h"
#include "cli/CommissionPlan.h"
#include "cli/FleetRunner.h"
#include "cli/TerminalDisplay.h"
#include "discovery/DeviceRegistry.h"
#include "handover/RecordText.h"

#include <QElapsedTimer>

#include <cstdio>

namespace tvx::cli {

namespace {
qint64 monotonicMs()
{
    QElapsedTimer now;
    now.start();
    return now.msecsSinceReference();
}
} // namespace

int CliApp::commission(const CliRequest& request, CliContext& context)
{
    const CommissionPlan plan = readPlan(request.planFile);
    if (!plan.error.isEmpty())
        return refused(plan.error);
    context.dryRun = request.dryRun;

    // One broadcast finds every module of the plan; the modules that share an
    // address are then reached by MAC, one at a time.
    DeviceRegistry found(context.net);
    if (const int result = CliSearch(context).run(true, QString(), found); result != 0)
        return result == -2 ? ExitInterrupted : ExitNoModules;

    FleetRunner fleet(context, request.jobs);
    for (const PlanLine& line : plan.lines) {
        const DiscoveryRecord* row = foundRow(line.module, found);
        std::unique_ptr<TargetRun> run;
        QString problem;
        std::optional<QByteArray> password;
        if (!row)
            problem = QStringLiteral("no module answered the search");
        else
            password = passwordFor(Command::Set, line.module, *row, problem);
        if (password) {
            run = std::make_unique<TargetRun>(context, Command::Set, line.module.text, *row,
                                              *password, nullptr);
            run->setAssignments(line.assignments);
        } else {
            run = TargetRun::failed(context, line.module.text, problem, row);
        }
        run->outcome().planLine = line.number;
        fleet.add(std::move(run));
    }

    const qint64 wallMs = fleet.run();
    if (!request.dryRun && !interrupted_.load())
        verifyPlan(request, context, plan, fleet);
    printSummary(request, fleet, wallMs, Command::Set, false);
    return exitStatus(fleet);
}

void CliApp::verifyPlan(const CliRequest& request, CliContext& context, const CommissionPlan& plan,
                        FleetRunner& fleet)
{
    struct Check {
        TargetRun* run;
        const PlanLine* line;
        QString oldIp; // where it was read
        bool written = false;
        DiscoveryRecord row{};
    };
    QList<Check> checks;
    QList<TargetRun*> runs;
    for (size_t i = 0; i < fleet.targets().size(); ++i) {
        TargetRun* run = fleet.targets()[i].get();
        if (!run->outcome().ok)
            continue;
        checks.append({run, &plan.lines[static_cast<qsizetype>(i)], run->outcome().ip,
                       run->outcome().kind == TargetOutcome::Kind::Done});
        runs << run;
    }
    // A module still answering from where it was read may not have restarted
    // yet; one that moved, or had nothing written, has.
    const auto answers = awaitAnswers(
        request, context, runs, [&checks](qsizetype i, const DiscoveryRecord& row, qint64) {
            const Check& c = checks[i];
            return !c.written || fieldText(row.ipText) != c.oldIp
                || monotonicMs() - c.run->outcome().endedAt >= kRestartGraceMs;
        });
    if (!answers)
        return;

    // Read back: the module answers where the plan put it and holds what its
    // line gave, which is to say that a second run of the plan would change nothing.
    FleetRunner reads(context, request.jobs);
    QList<qsizetype> readOf;
    for (qsizetype i = 0; i < checks.size(); ++i) {
        Check& c = checks[i];
        TargetOutcome& o = c.run->outcome();
        if (!(*answers)[i]) {
            o.ok = false;
            o.message = c.written
                ? QStringLiteral("did not answer discovery within %1 s after the restart")
                      .arg(kWaitMs / 1000)
                : QStringLiteral("did not answer discovery within %1 s").arg(kWaitMs / 1000);
            context.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(o.target, o.message));
            continue;
        }
        c.row = *(*answers)[i];
        o.ip = fieldText(c.row.ipText);
        o.devName = fieldText(c.row.deviceName);
        reads.add(c.run->followUpRead(c.row));
        readOf << i;
    }
    if (readOf.isEmpty())
        return;
    reads.run();
    for (qsizetype k = 0; k < readOf.size(); ++k) {
        const TargetOutcome& read = reads.targets()[static_cast<size_t>(k)]->outcome();
        const Check& c = checks[readOf[k]];
        TargetOutcome& o = c.run->outcome();
        QString problem;
        if (!read.settings) {
            problem = QStringLiteral("answered again, but its settings could not be read: %1")
                          .arg(read.message);
        } else {
            const SettingsRecord& now = *read.settings;
            const QString expectedIp = c.line->lanIp.isEmpty() ? c.oldIp : c.line->lanIp;
            SettingsRecord again;
            QList<SettingsChange> differ;
            const QString refused =
                prepareWrite(context, c.line->assignments, now, again, differ, false);
            // A module that takes its address from a server answers wherever it was put.
            if (fieldText(now.lanIpCfg) == QLatin1String("0") && o.ip != expectedIp) {
                problem = QStringLiteral("answers from %1, not from %2").arg(o.ip, expectedIp);
            } else if (!refused.isEmpty()) {
                problem = QStringLiteral("answered again, but its settings no longer pass: %1")
                              .arg(refused);
            } else if (!differ.isEmpty()) {
                QStringList names;
                for (const SettingsChange& d : differ)
                    names << QStringLiteral("%1 is %2, not %3").arg(d.name, d.old, d.now);
                problem = QStringLiteral("answered again, but ") + names.join(QStringLiteral(", "));
            }
        }
        if (!problem.isEmpty()) {
            o.ok = false;
            o.message = problem;
            context.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(o.target, problem));
        }
    }
}

} // namespace tvx::cli
