#include "cli/CliApp.h"

#include "cli/CliContext.h"
#include "cli/CliExit.h"
#include "cli/CliHelp.h"
#include "cli/CliSearch.h"
#include "cli/FleetRunner.h"
#include "cli/JsonText.h"
#include "cli/PasswordSource.h"
#include "cli/TerminalDisplay.h"
#include "config/DottedQuad.h"
#include "firmware/FirmwareRecognition.h"
#include "net/SharedHostNetwork.h"
#include "net/SystemNetTables.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace tvx::cli {

namespace {

constexpr char kPasswordVariable[] = "TARVANIX_PASSWORD";
constexpr char kNewPasswordVariable[] = "TARVANIX_NEW_PASSWORD";

void printOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

int refused(const QString& text)
{
    std::fprintf(stderr, "tarvanix-cli: %s\n", qPrintable(text));
    return ExitUsage;
}

} // namespace

int CliApp::run(const CliRequest& request)
{
    if (request.help) {
        printOut(helpText().toUtf8());
        return ExitOk;
    }
    if (request.version) {
        printOut(versionText().toUtf8());
        return ExitOk;
    }

    TerminalDisplay display(TerminalDisplay::stderrIsTerminal());
    auto tables = std::make_shared<SystemNetTables>(SystemNetTables::defaultHelperPath(
        QCoreApplication::applicationDirPath().toStdString()));
    // Its start removes what the helpers of killed runs left in the tables.
    tables->startHelper();
    CliContext context;
    // The host's own troubles (no helper, no privilege) are always worth a line.
    context.net = makeSharedHostNetwork(tables, [&display](const QString& text) {
        display.line(QStringLiteral("tarvanix-cli: ") + text);
    });
    context.display = &display;
    context.interrupted = &interrupted_;
    if (request.verbose)
        context.log = [&display](const QString& text) { display.line(QStringLiteral("log: ") + text); };

    if (request.command == Command::Discover)
        return discover(request, context);
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
        const DiscoveryRecord* row = target.kind == TargetId::Kind::Mac
                                         ? found.findMac(target.key)
                                         : found.findIp(target.key);
        if (!row) {
            fleet.add(TargetRun::failed(context, target.text,
                                        QStringLiteral("no module answered the search")));
            continue;
        }
        QString problem;
        std::optional<QByteArray> password = passwordFor(request.command, target, *row, problem);
        if (!password) {
            fleet.add(TargetRun::failed(context, target.text, problem));
            continue;
        }
        fleet.add(std::make_unique<TargetRun>(context, request.command, target.text, *row,
                                              *password, nullptr));
    }

    const qint64 wallMs = fleet.run();
    if (request.command == Command::Get) {
        printGet(request, fleet);
        if (fleet.targets().size() > 1 || fleet.failures() > 0) {
            const QByteArray table = fleet.summary(wallMs);
            std::fwrite(table.constData(), 1, static_cast<size_t>(table.size()), stderr);
        }
    } else {
        printOut(fleet.summary(wallMs));
    }
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
            return refused(QStringLiteral("invalid IP address"));
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
    return ExitOk;
}

int CliApp::prepareSet(const CliRequest& request, CliContext& context)
{
    const QString problem =
        request.fromFile.isEmpty()
            ? SettingsEdit::parseArguments(request.assignments, context.assignments)
            : SettingsEdit::parseJsonFile(request.fromFile, context.assignments);
    if (!problem.isEmpty())
        return refused(problem);
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
    const FirmwareCheck check = recogniseFirmwareFile(path);
    if (check != FirmwareCheck::Accepted)
        return refused(firmwareCheckMessage(check, path));
    context.firmwarePath = path;
    return ExitOk;
}

int CliApp::resolve(const CliRequest& request, CliContext& context, QList<TargetId>& targets,
                    DeviceTable& found)
{
    for (const QString& text : request.targets) {
        std::optional<TargetId> id = TargetId::parse(text);
        if (!id)
            return refused(QStringLiteral("'%1' is neither an IP address nor a MAC address").arg(text));
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
        password = PasswordSource::ask(QStringLiteral("Password for %1 (%2): ")
                                           .arg(target.text, recordText(row.macText)));
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
            objects << SettingsEdit::fields(*run->outcome().settings);
            names << run->outcome().target;
        }
    }
    if (request.json) {
        printOut(objects.size() == 1 && fleet.targets().size() == 1
                     ? jsonObject(objects.first(), 0) + "\n"
                     : jsonArray(objects));
        return;
    }
    QByteArray out;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        if (objects.size() > 1)
            out += (i ? "\n# " : "# ") + names[i].toUtf8() + "\n";
        for (const auto& [name, value] : objects[i])
            out += name.toUtf8() + "=" + value.toString().toUtf8() + "\n";
    }
    printOut(out);
}

} // namespace tvx::cli
