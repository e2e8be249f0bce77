#include "cli/CliRequest.h"

#include <array>
#include <utility>

namespace tvx::cli {

namespace {

constexpr std::array<std::pair<const char*, Command>, 6> kCommands{{
    {"discover", Command::Discover},
    {"get", Command::Get},
    {"set", Command::Set},
    {"reboot", Command::Reboot},
    {"upgrade", Command::Upgrade},
    {"tty", Command::Tty},
}};

constexpr int kMaxJobs = 64;

// Options that take a value, written "--name VALUE" or "--name=VALUE".
bool takesValue(const QString& name)
{
    return name == QLatin1String("--targets") || name == QLatin1String("--jobs")
        || name == QLatin1String("-j") || name == QLatin1String("--ip")
        || name == QLatin1String("--from") || name == QLatin1String("--firmware")
        || name == QLatin1String("--plan") || name == QLatin1String("--link")
        || name == QLatin1String("--port") || name == QLatin1String("--group")
        || name == QLatin1String("--mode");
}

QString checkCombination(const CliRequest& r)
{
    const bool fleet = !r.targets.isEmpty() || r.all || !r.targetsFile.isEmpty();
    if (!r.planFile.isEmpty()) {
        // The plan names its modules and their values.
        if (r.command != Command::Set)
            return QStringLiteral("--plan belongs to set");
        if (fleet)
            return QStringLiteral("--plan excludes targets, --all and --targets");
        if (!r.fromFile.isEmpty() || !r.assignments.isEmpty() || r.changePassword)
            return QStringLiteral("--plan excludes --from, NAME=VALUE and --change-password");
    }
    switch (r.command) {
    case Command::None:
        return QStringLiteral("missing command");
    case Command::Discover:
        if (fleet)
            return QStringLiteral("discover takes no targets");
        if (r.json && r.csv)
            return QStringLiteral("--json and --csv exclude each other");
        break;
    default:
        if (!fleet && r.planFile.isEmpty())
            return QStringLiteral("missing target (a TARGET, --all or --targets FILE)");
        if (r.all && (!r.targets.isEmpty() || !r.targetsFile.isEmpty()))
            return QStringLiteral("--all excludes other targets");
        if (!r.searchIp.isEmpty())
            return QStringLiteral("--ip belongs to discover");
        if (r.csv)
            return QStringLiteral("--csv belongs to discover");
        break;
    }
    if (r.command != Command::Set && (!r.fromFile.isEmpty() || r.changePassword))
        return QStringLiteral("--from and --change-password belong to set");
    if (r.command == Command::Set && r.fromFile.isEmpty() && r.assignments.isEmpty()
        && !r.changePassword && r.planFile.isEmpty())
        return QStringLiteral("set needs --from FILE, NAME=VALUE or --plan FILE");
    if (r.command == Command::Set && !r.fromFile.isEmpty() && !r.assignments.isEmpty())
        return QStringLiteral("--from excludes NAME=VALUE");
    if (r.command != Command::Upgrade && !r.firmware.isEmpty())
        return QStringLiteral("--firmware belongs to upgrade");
    if (r.command == Command::Upgrade && r.firmware.isEmpty())
        return QStringLiteral("upgrade needs --firmware FILE");
    if (r.dryRun && r.command != Command::Set)
        return QStringLiteral("--dry-run belongs to set");
    if (r.withAddress && (r.command != Command::Set || r.fromFile.isEmpty()))
        return QStringLiteral("--with-address belongs to set --from");
    if (r.wait && r.command != Command::Reboot && r.command != Command::Upgrade)
        return QStringLiteral("--wait belongs to reboot and upgrade");
    const bool ttyOptions = !r.link.isEmpty() || r.port != 0 || !r.group.isEmpty() || r.mode >= 0;
    if (r.command != Command::Tty && ttyOptions)
        return QStringLiteral("--link, --port, --group and --mode belong to tty");
    if (r.command == Command::Tty) {
        // One bridge, one module, one terminal.
        if (r.all || !r.targetsFile.isEmpty() || r.targets.size() != 1)
            return QStringLiteral("tty takes exactly one TARGET");
        if (r.link.isEmpty())
            return QStringLiteral("tty needs --link PATH");
        if (r.json)
            return QStringLiteral("--json does not belong to tty");
    }
    return {};
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& args)
{
    ParsedCommandLine out;
    CliRequest& r = out.request;
    const auto fail = [&out](const QString& text) {
        out.error = text;
        return out;
    };

    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            QString value;
            bool hasValue = false;
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            if (arg.startsWith(QLatin1String("--")) && eq > 0) {
                value = arg.mid(eq + 1);
                arg = arg.left(eq);
                hasValue = true;
            }
            if (arg.startsWith(QLatin1String("--pass"))) {
                // Anything on the command line is visible to every user of the host.
                return fail(QStringLiteral("passwords are not taken from the command line; use "
                                           "TARVANIX_PASSWORD, a targets file or the prompt"));
            }
            if (takesValue(arg)) {
                if (!hasValue) {
                    if (i + 1 >= args.size())
                        return fail(QStringLiteral("option '%1' needs a value").arg(arg));
                    value = args[++i];
                }
            } else if (hasValue) {
                return fail(QStringLiteral("option '%1' takes no value").arg(arg));
            }

            if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
                r.help = true;
            } else if (arg == QLatin1String("-V") || arg == QLatin1String("--version")) {
                r.version = true;
            } else if (arg == QLatin1String("-v") || arg == QLatin1String("--verbose")) {
                r.verbose = true;
            } else if (arg == QLatin1String("--all")) {
                r.all = true;
            } else if (arg == QLatin1String("--json")) {
                r.json = true;
            } else if (arg == QLatin1String("--csv")) {
                r.csv = true;
            } else if (arg == QLatin1String("-q") || arg == QLatin1String("--quiet")) {
                r.quiet = true;
            } else if (arg == QLatin1String("--dry-run")) {
                r.dryRun = true;
            } else if (arg == QLatin1String("--with-address")) {
                r.withAddress = true;
            } else if (arg == QLatin1String("--wait")) {
                r.wait = true;
            } else if (arg == QLatin1String("--change-password")) {
                r.changePassword = true;
            } else if (arg == QLatin1String("--targets")) {
                r.targetsFile = value;
            } else if (arg == QLatin1String("-j") || arg == QLatin1String("--jobs")) {
                bool number = false;
                r.jobs = value.toInt(&number);
                if (!number || r.jobs < 1 || r.jobs > kMaxJobs)
                    return fail(QStringLiteral("--jobs takes a number from 1 to %1, not '%2'")
                                    .arg(kMaxJobs)
                                    .arg(value));
            } else if (arg == QLatin1String("--ip")) {
                r.searchIp = value;
            } else if (arg == QLatin1String("--from")) {
                r.fromFile = value;
            } else if (arg == QLatin1String("--plan")) {
                r.planFile = value;
            } else if (arg == QLatin1String("--firmware")) {
                r.firmware = value;
            } else if (arg == QLatin1String("--link")) {
                r.link = value;
            } else if (arg == QLatin1String("--port")) {
                bool number = false;
                const int port = value.toInt(&number);
                if (!value.isEmpty() && (!number || port < 1 || port > 65535))
                    return fail(QStringLiteral("--port takes a number from 1 to 65535"));
                r.port = value.isEmpty() ? 0 : port;
            } else if (arg == QLatin1String("--group")) {
                r.group = value;
            } else if (arg == QLatin1String("--mode")) {
                bool number = false;
                const int mode = value.toInt(&number, 8);
                if (!value.isEmpty() && (!number || mode < 0 || mode > 0777))
                    return fail(QStringLiteral("--mode takes octal permissions such as 0660"));
                r.mode = value.isEmpty() ? -1 : mode;
            } else {
                return fail(QStringLiteral("unknown option '%1'").arg(arg));
            }
            continue;
        }

        if (r.command == Command::None) {
            for (const auto& [name, command] : kCommands) {
                if (arg == QLatin1String(name))
                    r.command = command;
            }
            if (r.command == Command::None)
                return fail(QStringLiteral("unknown command '%1'").arg(arg));
        } else if (r.command == Command::Set && arg.contains(QLatin1Char('='))) {
            r.assignments << arg;
        } else {
            r.targets << arg;
        }
    }

    if (r.help || r.version)
        return out;
    const QString problem = checkCombination(r);
    if (!problem.isEmpty())
        return fail(problem);
    return out;
}

} // namespace tvx::cli
