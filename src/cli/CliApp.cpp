#include "cli/CliApp.h"

#include "cli/CliContext.h"
#include "cli/CliExit.h"
#include "cli/CliHelp.h"
#include "cli/CliSearch.h"
#include "cli/DeviceTable.h"
#include "cli/FleetRunner.h"
#include "cli/PasswordSource.h"
#include "cli/TerminalDisplay.h"
#include "discovery/DeviceListText.h"
#include "discovery/DeviceRegistry.h"
#include "firmware/FirmwareRecognition.h"
#include "handover/RecordText.h"
#include "net/SharedHostNetwork.h"
#include "net/SystemNetTables.h"
#include "platform/RegularFile.h"
#include "text/DottedQuad.h"
#include "text/JsonText.h"
#include "text/PrintableText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tvx::cli {

namespace {

constexpr char kPasswordVariable[] = "TARVANIX_PASSWORD";
constexpr char kNewPasswordVariable[] = "TARVANIX_NEW_PASSWORD";
// A firmware image is sent in 1024-byte blocks; nothing sensible is larger.
constexpr qint64 kFirmwareMaxBytes = 64 * 1024 * 1024;

} // namespace

CliApp::CliApp(std::atomic<bool>& interrupted)
    : interrupted_(interrupted), workers_(WorkerOwner::kStopBound, [this](int) {
          std::fprintf(stderr, "tarvanix-cli: a worker did not end in time\n");
          std::fflush(nullptr);
          std::_Exit(interrupted_.load() ? ExitInterrupted : ExitTargetFailed);
      })
{}

void CliApp::printOut(const QByteArray& bytes)
{
    if (outputError_ != 0)
        return;
    errno = 0;
    const size_t size = static_cast<size_t>(bytes.size());
    if (std::fwrite(bytes.constData(), 1, size, stdout) != size || std::fflush(stdout) != 0)
        outputError_ = errno != 0 ? errno : EIO;
}

int CliApp::refused(const QString& text)
{
    // A refused line of a file is quoted in the message: shown, never obeyed.
    std::fprintf(stderr, "tarvanix-cli: %s\n", printableText(text, true).toLocal8Bit().constData());
    return ExitUsage;
}

int CliApp::run(const CliRequest& request)
{
    const int status = runCommand(request);
    // A script that reads the output must not take a cut one for the whole.
    if (outputError_ == 0 || status == ExitInterrupted)
        return status;
    std::fprintf(stderr, "tarvanix-cli: cannot write to standard output: %s\n",
                 std::strerror(outputError_));
    return ExitOutputFailed;
}

int CliApp::runCommand(const CliRequest& request)
{
    if (request.help) {
        printOut(helpText(request.command).toUtf8());
        return ExitOk;
    }
    if (request.version) {
        printOut(versionText().toUtf8());
        return ExitOk;
    }

    TerminalDisplay display(TerminalDisplay::stderrIsTerminal());
    display.setQuiet(request.quiet);
    auto tables = std::make_shared<SystemNetTables>(
        SystemNetTables::defaultHelperPath(QCoreApplication::applicationDirPath().toStdString()));
    CliContext context;
    context.workers = &workers_;
    // Its start removes what the helpers of killed runs left in the tables.
    context.startHelper = [tables] { tables->startHelper(); };
    // The host's own troubles (no helper, no privilege) are always worth a line.
    context.net = makeSharedHostNetwork(tables, [&display](const QString& text) {
        display.line(QStringLiteral("tarvanix-cli: ") + text);
    });
    context.display = &display;
    context.interrupted = &interrupted_;
    context.quiet = request.quiet;
    if (request.verbose)
        context.log = [&display](const QString& text) {
            display.line(QStringLiteral("log: ") + text);
        };

    if (request.command == Command::Discover)
        return discover(request, context);
    if (request.command == Command::Tty)
        return tty(request, context);
    if (request.command == Command::Set && !request.planFile.isEmpty())
        return commission(request, context);
    if (request.command == Command::Set) {
        if (const int status = prepareSet(request, context); status != ExitOk)
            return status;
    }
    if (request.command == Command::Upgrade) {
        if (const int status = prepareUpgrade(request, context); status != ExitOk)
            return status;
    }

    QList<TargetId> targets;
    DeviceRegistry found(context.net);
    if (const int status = resolve(request, context, targets, found); status != ExitOk)
        return status;

    FleetRunner fleet(context, request.jobs);
    for (const TargetId& target : targets) {
        const DiscoveryRecord* row = foundRow(target, found);
        if (!row) {
            fleet.add(TargetRun::failed(context, target.text,
                                        QStringLiteral("no module answered the search")));
            continue;
        }
        QString problem;
        std::optional<QByteArray> password = passwordFor(request.command, target, *row, problem);
        if (!password) {
            fleet.add(TargetRun::failed(context, target.text, problem, row));
            continue;
        }
        fleet.add(std::make_unique<TargetRun>(context, request.command, target.text, *row,
                                              *password, nullptr));
    }

    const qint64 wallMs = fleet.run();
    if (request.wait && !interrupted_.load())
        waitForModules(request, context, fleet);
    if (request.command == Command::Get) {
        printGet(request, fleet);
        if (fleet.targets().size() > 1 || fleet.failures() > 0) {
            const QByteArray table = fleet.summary(wallMs);
            std::fwrite(table.constData(), 1, static_cast<size_t>(table.size()), stderr);
        }
    } else {
        printSummary(request, fleet, wallMs, request.command, request.wait);
    }
    return exitStatus(fleet);
}

void CliApp::printSummary(const CliRequest& request, const FleetRunner& fleet, qint64 wallMs,
                          Command command, bool waited)
{
    if (request.json) {
        printOut(fleet.summaryJson(command, waited));
    } else {
        if (request.dryRun)
            printChanges(fleet);
        printOut(fleet.summary(wallMs));
    }
}

int CliApp::exitStatus(const FleetRunner& fleet) const
{
    if (interrupted_.load())
        return ExitInterrupted;
    return fleet.failures() > 0 ? ExitTargetFailed : ExitOk;
}

int CliApp::discover(const CliRequest& request, CliContext& context)
{
    const bool broadcast = request.searchIp.isEmpty();
    QString target;
    if (!broadcast) {
        // As "Search by IP" takes it: no address and the broadcast address are refused.
        const uint32_t address = parseDottedQuad(request.searchIp.toLatin1().constData());
        if (address == 0 || address == kDottedQuadError)
            return refused(QStringLiteral("invalid IP address '%1'").arg(request.searchIp));
        char dotted[16];
        formatDottedQuad(address, dotted);
        target = QString::fromLatin1(dotted);
    }
    DeviceRegistry table(context.net);
    const int result = CliSearch(context).run(broadcast, target, table);
    if (result == -2)
        return ExitInterrupted;
    if (result != 0)
        return ExitNoModules;
    printOut(request.json      ? deviceListJson(table, allDeviceRows(table))
                 : request.csv ? deviceListCsv(table, allDeviceRows(table))
                               : deviceTableText(table));
    // An empty list is still printed, so that a parser reads it as ever; the status tells a
    // script that nothing answered.
    if (table.count() == 0) {
        std::fprintf(stderr, "tarvanix-cli: no module answered the search\n");
        return ExitNoModules;
    }
    return ExitOk;
}

int CliApp::prepareSet(const CliRequest& request, CliContext& context)
{
    QString problem;
    if (request.fromFile.isEmpty()) {
        problem = SettingsEdit::parseArguments(request.assignments, context.assignments);
    } else {
        SettingsFile file;
        problem = SettingsEdit::readFile(request.fromFile, file);
        context.assignments = file.assignments;
        context.fromFile = true;
        context.savedFromMac = file.savedFromMac;
        context.withAddress = request.withAddress;
        if (problem.isEmpty() && !file.shownOnly.isEmpty() && !request.quiet)
            context.display->line(
                QStringLiteral("tarvanix-cli: %1: %2 shown only, ignored")
                    .arg(request.fromFile, file.shownOnly.join(QStringLiteral(", "))));
    }
    if (!problem.isEmpty())
        return refused(problem);
    context.dryRun = request.dryRun;
    if (!request.changePassword)
        return ExitOk;

    std::optional<QByteArray> next = PasswordSource::fromEnvironment(kNewPasswordVariable);
    if (!next) {
        bool interrupted = false;
        next = PasswordSource::ask(QStringLiteral("New password: "), interrupted);
        if (!next && !interrupted)
            return refused(QStringLiteral("--change-password needs %1 or a terminal")
                               .arg(QLatin1String(kNewPasswordVariable)));
        std::optional<QByteArray> again;
        if (!interrupted)
            again = PasswordSource::ask(QStringLiteral("Confirm password: "), interrupted);
        if (interrupted) {
            interrupted_.store(true);
            return ExitInterrupted;
        }
        if (!again || *again != *next)
            return refused(QStringLiteral("Confirm password isn't match for new password"));
    }
    const QString bad = PasswordSource::check(*next);
    if (!bad.isEmpty())
        return refused(QStringLiteral("new %1").arg(bad));
    context.newPassword = next;
    return ExitOk;
}

int CliApp::prepareUpgrade(const CliRequest& request, CliContext& context)
{
    // The file dialogs' checks, in their order and with their messages.
    const QByteArray path = QFile::encodeName(request.firmware);
    if (path.isEmpty())
        return refused(QStringLiteral("file can't be blank"));
    // Before the dialogs' checks, which would wait on a FIFO.
    if (const QString bad = checkRegularFile(request.firmware, kFirmwareMaxBytes); !bad.isEmpty())
        return refused(bad);
    const FirmwareCheck check = recogniseFirmwareFile(path);
    if (check != FirmwareCheck::Accepted)
        return refused(request.firmware + QStringLiteral(": ") + firmwareCheckMessage(check, path));
    context.firmwarePath = path;
    return ExitOk;
}

int CliApp::resolve(const CliRequest& request, CliContext& context, QList<TargetId>& targets,
                    DeviceRegistry& found)
{
    for (const QString& text : request.targets) {
        std::optional<TargetId> id = TargetId::parse(text);
        if (!id)
            return refused(
                QStringLiteral("'%1' is neither an IP address nor a MAC address").arg(text));
        targets << *id;
    }
    if (!request.targetsFile.isEmpty()) {
        const TargetsFile file = readTargetsFile(request.targetsFile);
        if (!file.error.isEmpty())
            return refused(file.error);
        targets << file.targets;
    }

    CliSearch search(context);
    const auto searchFailed = [](int result) {
        return result == -2 ? ExitInterrupted : ExitNoModules;
    };

    // One broadcast finds a whole fleet, every module named by its MAC, and
    // every address that several modules answer: a target named by such an
    // address must not go to whichever module answers first.
    if (const int result = search.run(true, QString(), found); result != 0)
        return searchFailed(result);
    if (request.all) {
        if (found.count() == 0) {
            std::fprintf(stderr, "tarvanix-cli: no module answered the search\n");
            return ExitNoModules;
        }
        for (int i = 0; i < found.count(); ++i) {
            TargetId id;
            id.kind = TargetId::Kind::Mac;
            id.key = found.cell(i, DeviceRegistry::Mac).left(17);
            id.text = found.cell(i, DeviceRegistry::Ip);
            targets << id;
        }
        return ExitOk;
    }
    // A module behind a router answers no broadcast of ours: the addresses the
    // broadcast did not find are asked together.
    if (const int result = searchAbsentAddresses(context, targets, found); result != 0)
        return searchFailed(result);
    return refuseSharedAddresses(targets, found);
}

const DiscoveryRecord* CliApp::foundRow(const TargetId& target, const DeviceRegistry& found)
{
    const int row =
        target.kind == TargetId::Kind::Mac ? found.rowOfMac(target.key) : found.rowOfIp(target.key);
    return row >= 0 ? &found.record(row) : nullptr;
}

int CliApp::refuseSharedAddresses(const QList<TargetId>& targets, const DeviceRegistry& found)
{
    for (const TargetId& target : targets) {
        if (target.kind != TargetId::Kind::Ip)
            continue;
        const QStringList macs = found.macsAt(target.key);
        if (macs.size() > 1)
            return refused(QStringLiteral("%1: %2 modules answer at this address (%3): name one by "
                                          "its MAC address")
                               .arg(target.text)
                               .arg(macs.size())
                               .arg(macs.join(QStringLiteral(", "))));
    }
    return ExitOk;
}

std::optional<QByteArray> CliApp::passwordFor(Command command, const TargetId& target,
                                              const DiscoveryRecord& row, QString& problem)
{
    // The windows ask only for a module whose "Password" cell reads "Yes".
    // After an interrupt nobody is asked: the target is never started and
    // ends as interrupted.
    if (fieldText(row.passwordState) != QLatin1String("Yes") || interrupted_.load())
        return QByteArray();
    std::optional<QByteArray> password = target.password;
    if (!password) {
        if (!environmentRead_) {
            environmentPassword_ = PasswordSource::fromEnvironment(kPasswordVariable);
            environmentRead_ = true;
        }
        password = environmentPassword_;
    }
    if (!password) {
        bool interrupted = false;
        password = PasswordSource::ask(
            QStringLiteral("Password for %1 (%2): ").arg(target.text, fieldText(row.macText)),
            interrupted);
        if (interrupted) {
            interrupted_.store(true);
            return QByteArray();
        }
    }
    if (!password || password->isEmpty()) {
        // The texts of the windows' two password prompts: the upgrade dialog's
        // and the one of reading and rebooting.
        problem = command == Command::Upgrade ? QStringLiteral("password can't be blank")
                                              : QStringLiteral("Password can't be blank");
        return std::nullopt;
    }
    problem = PasswordSource::check(*password);
    if (!problem.isEmpty())
        return std::nullopt;
    return password;
}

void CliApp::printGet(const CliRequest& request, const FleetRunner& fleet)
{
    QList<OrderedObject> objects;
    QStringList names;
    for (const auto& run : fleet.targets()) {
        if (run->outcome().settings) {
            OrderedObject object{{QStringLiteral("version"), kJsonVersion},
                                 {QStringLiteral("target"), run->outcome().target}};
            object << SettingsEdit::fields(*run->outcome().settings);
            objects << object;
            names << run->outcome().target;
        }
    }
    if (request.json) {
        printOut(jsonArray(objects));
        return;
    }
    QByteArray out;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        if (objects.size() > 1)
            out += (i ? "\n# " : "# ") + names[i].toUtf8() + "\n";
        for (const auto& [name, value] : objects[i].mid(2))
            out += name.toUtf8() + "=" + printableText(value.toString()).toUtf8() + "\n";
    }
    printOut(out);
}

void CliApp::printChanges(const FleetRunner& fleet)
{
    QByteArray out;
    const bool many = fleet.targets().size() > 1;
    for (const auto& run : fleet.targets()) {
        const TargetOutcome& o = run->outcome();
        if (!o.ok || o.changes.isEmpty())
            continue;
        if (many)
            out += "# " + o.target.toUtf8() + "\n";
        for (const SettingsChange& c : o.changes) {
            if (c.name == QLatin1String("passwd"))
                out += "passwd: changed\n";
            else
                out += (c.name + QStringLiteral(": ") + printableText(c.old)
                        + QStringLiteral(" -> ") + printableText(c.now))
                           .toUtf8()
                    + "\n";
        }
    }
    printOut(out);
}

std::optional<QList<std::optional<DiscoveryRecord>>>
CliApp::awaitAnswers(const CliRequest& request, CliContext& context, const QList<TargetRun*>& runs,
                     const std::function<bool(qsizetype, const DiscoveryRecord&, qint64)>& settled)
{
    QList<std::optional<DiscoveryRecord>> answers(runs.size());
    if (runs.isEmpty())
        return answers;
    if (!request.quiet)
        context.display->line(
            QStringLiteral("tarvanix-cli: waiting for %1 to answer again")
                .arg(countOf(runs.size(), QStringLiteral("module"), QStringLiteral("modules"))));
    QList<bool> silentOnce(runs.size(), false);
    QElapsedTimer since;
    since.start();
    CliSearch search(context);
    qsizetype left = runs.size();
    while (left > 0 && since.elapsed() < kWaitMs) {
        DeviceRegistry table(context.net);
        const int result = search.run(true, QString(), table);
        if (result == -2 || interrupted_.load())
            return std::nullopt;
        for (qsizetype i = 0; i < runs.size(); ++i) {
            if (answers[i])
                continue;
            const int index = table.rowOfMac(runs[i]->outcome().mac);
            const DiscoveryRecord* row = index >= 0 ? &table.record(index) : nullptr;
            if (!row) {
                silentOnce[i] = true;
                continue;
            }
            if (silentOnce[i] || settled(i, *row, since.elapsed())) {
                answers[i] = *row;
                --left;
            }
        }
        if (left > 0)
            QThread::msleep(300);
    }
    return answers;
}

void CliApp::waitForModules(const CliRequest& request, CliContext& context, FleetRunner& fleet)
{
    QList<TargetRun*> runs;
    for (const auto& run : fleet.targets()) {
        if (run->outcome().ok)
            runs << run.get();
    }
    const auto answers =
        awaitAnswers(request, context, runs, [](qsizetype, const DiscoveryRecord&, qint64 ms) {
            return ms >= kRestartGraceMs;
        });
    if (!answers)
        return;

    FleetRunner reads(context, request.jobs);
    QList<qsizetype> readOf;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        TargetOutcome& o = runs[i]->outcome();
        const std::optional<DiscoveryRecord>& row = (*answers)[i];
        if (!row) {
            o.ok = false;
            o.message = QStringLiteral("did not answer discovery within %1 s after the restart")
                            .arg(kWaitMs / 1000);
            context.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(o.target, o.message));
            continue;
        }
        o.ip = fieldText(row->ipText);
        o.devName = fieldText(row->deviceName);
        if (request.command == Command::Upgrade) {
            reads.add(runs[i]->followUpRead(*row));
            readOf << i;
        }
    }
    if (readOf.isEmpty())
        return;
    reads.run();
    for (qsizetype k = 0; k < readOf.size(); ++k) {
        const TargetOutcome& read = reads.targets()[static_cast<size_t>(k)]->outcome();
        TargetOutcome& o = runs[readOf[k]]->outcome();
        if (read.settings) {
            o.firmwareVersion = fieldText(read.settings->fmwVer);
        } else {
            o.ok = false;
            o.message = QStringLiteral("answered again, but its settings could not be read: %1")
                            .arg(read.message);
        }
    }
}

} // namespace tvx::cli
