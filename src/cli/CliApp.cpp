#include "cli/CliApp.h"

#include "cli/CliContext.h"
#include "cli/CliExit.h"
#include "cli/CliHelp.h"
#include "cli/CliSearch.h"
#include "cli/FleetRunner.h"
#include "cli/PasswordSource.h"
#include "cli/TerminalDisplay.h"
#include "config/DottedQuad.h"
#include "config/JsonText.h"
#include "config/RecordText.h"
#include "firmware/FirmwareRecognition.h"
#include "net/SharedHostNetwork.h"
#include "net/SystemNetTables.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

namespace tvx::cli {

namespace {

constexpr char kPasswordVariable[] = "TARVANIX_PASSWORD";
constexpr char kNewPasswordVariable[] = "TARVANIX_NEW_PASSWORD";
// A firmware image is sent in 1024-byte blocks; nothing sensible is larger.
constexpr qint64 kFirmwareMaxBytes = 64 * 1024 * 1024;

} // namespace

void CliApp::printOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

int CliApp::refused(const QString& text)
{
    std::fprintf(stderr, "tarvanix-cli: %s\n", qPrintable(text));
    return ExitUsage;
}

int CliApp::run(const CliRequest& request)
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
    // Its start removes what the helpers of killed runs left in the tables.
    tables->startHelper();
    CliContext context;
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
    DeviceTable found;
    if (const int status = resolve(request, context, targets, found); status != ExitOk)
        return status;

    FleetRunner fleet(context, request.jobs);
    for (const TargetId& target : targets) {
        const DiscoveryRecord* row = target.kind == TargetId::Kind::Mac ? found.findMac(target.key)
                                                                        : found.findIp(target.key);
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
    DeviceTable table;
    const int result = CliSearch(context).run(broadcast, target, table);
    if (result == -2)
        return ExitInterrupted;
    if (result != 0)
        return ExitNoModules;
    printOut(request.json ? table.toJson() : request.csv ? table.toCsv() : table.toText());
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
        next = PasswordSource::ask(QStringLiteral("New password: "));
        if (!next)
            return refused(QStringLiteral("--change-password needs %1 or a terminal")
                               .arg(QLatin1String(kNewPasswordVariable)));
        std::optional<QByteArray> again = PasswordSource::ask(QStringLiteral("Confirm password: "));
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
                    DeviceTable& found)
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
    const auto searchInto = [&](bool broadcast, const QString& address) {
        DeviceTable table;
        const int result = search.run(broadcast, address, table);
        for (const DiscoveryRecord& row : table.rows())
            found.addDevice(row);
        return result;
    };
    const auto searchFailed = [](int result) {
        return result == -2 ? ExitInterrupted : ExitNoModules;
    };

    // One broadcast finds a whole fleet and every module named by its MAC; a
    // lone address, or one the broadcast did not reach (behind a router), is
    // searched for by itself.
    const bool lonelyIp = targets.size() == 1 && targets[0].kind == TargetId::Kind::Ip;
    if (request.all || !lonelyIp) {
        if (const int result = searchInto(true, QString()); result != 0)
            return searchFailed(result);
    }
    if (request.all) {
        if (found.count() == 0) {
            std::fprintf(stderr, "tarvanix-cli: no module answered the search\n");
            return ExitNoModules;
        }
        for (const DiscoveryRecord& row : found.rows()) {
            TargetId id;
            id.kind = TargetId::Kind::Mac;
            id.key = recordText(row.macText).left(17);
            id.text = recordText(row.ipText);
            targets << id;
        }
        return ExitOk;
    }
    for (const TargetId& target : std::as_const(targets)) {
        if (target.kind != TargetId::Kind::Ip || found.findIp(target.key))
            continue;
        if (const int result = searchInto(false, target.key); result != 0)
            return searchFailed(result);
    }
    // A module outside every subnet of the host may not answer a search by
    // its address, yet it answers a broadcast.
    if (lonelyIp && !found.findIp(targets[0].key)) {
        if (const int result = searchInto(true, QString()); result != 0)
            return searchFailed(result);
    }
    return ExitOk;
}

std::optional<QByteArray> CliApp::passwordFor(Command command, const TargetId& target,
                                              const DiscoveryRecord& row, QString& problem)
{
    // The windows ask only for a module whose "Password" cell reads "Yes".
    if (recordText(row.passwordState) != QLatin1String("Yes"))
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
        password = PasswordSource::ask(
            QStringLiteral("Password for %1 (%2): ").arg(target.text, recordText(row.macText)));
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
            out += name.toUtf8() + "=" + value.toString().toUtf8() + "\n";
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
                out += (c.name + QStringLiteral(": ") + c.old + QStringLiteral(" -> ") + c.now)
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
        DeviceTable table;
        const int result = search.run(true, QString(), table);
        if (result == -2 || interrupted_.load())
            return std::nullopt;
        for (qsizetype i = 0; i < runs.size(); ++i) {
            if (answers[i])
                continue;
            const DiscoveryRecord* row = table.findMac(runs[i]->outcome().mac);
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
        o.ip = recordText(row->ipText);
        o.devName = recordText(row->deviceName);
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
