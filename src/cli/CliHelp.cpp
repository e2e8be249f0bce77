#include "cli/CliHelp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tvx::cli {

namespace {

const char kDiscoverHelp[] =
    "  discover [--ip ADDRESS] [--json|--csv]\n"
    "                        list the modules that answer a broadcast (or the one\n"
    "                        at ADDRESS) as the device list shows them\n";

const char kGetHelp[] =
    "  get TARGET... [--json]\n"
    "                        print all settings of each module as NAME=VALUE lines;\n"
    "                        --json prints an array with one object per target\n"
    "                        (a settings file for set --from)\n";

const char kSetHelp[] =
    "  set TARGET... (--from FILE.json | NAME=VALUE...) [OPTION]...\n"
    "                        read the settings, apply the given values, check them\n"
    "                        as \"Save to Module\" does, and write them when\n"
    "                        anything changes; the module then restarts. Nothing\n"
    "                        changed: nothing is written, result \"unchanged\".\n"
    "                        Options: --change-password, --dry-run (print each\n"
    "                        change as NAME: old -> new and write nothing),\n"
    "                        --with-address, --json\n"
    "  set --plan FILE.csv [--dry-run] [--json]\n"
    "                        commission many modules at once, also modules that\n"
    "                        share one factory address: one broadcast finds them,\n"
    "                        each line's module is reached by its MAC and given its\n"
    "                        line, then each is looked for again and read back: it\n"
    "                        must answer from its new lanIp (else its old address)\n"
    "                        with the values it was given\n";

const char kRebootHelp[] =
    "  reboot TARGET... [--wait] [--json]\n"
    "                        restart each module; --wait returns when it answers a\n"
    "                        broadcast again (at most 60 s)\n";

const char kUpgradeHelp[] =
    "  upgrade TARGET... --firmware FILE.aff [--wait] [--json]\n"
    "                        put the firmware file into each module; --wait returns\n"
    "                        when it answers again and reads its firmware version\n";

const char kTtyHelp[] =
    "  tty TARGET --link PATH [--port N] [--group G] [--mode MODE]\n"
    "                        the module's serial port as a pseudo-terminal here:\n"
    "                        PATH becomes a link to it, and the bytes written to\n"
    "                        it go to the module's data port (sp0_tcpslport) and\n"
    "                        back, unchanged, until SIGINT, SIGTERM or SIGHUP\n"
    "                        (status 130), which remove the link. A module that is\n"
    "                        not a TCP server (sp0_opmode TS) is refused, unless\n"
    "                        --port is given\n";

const char kTtyOptions[] =
    "      --link PATH       where programs open the terminal; it must not exist,\n"
    "                        or be the link a killed bridge left (else status 2)\n"
    "      --port N          connect to port N of the module instead of its\n"
    "                        listen port\n"
    "      --group G         give the terminal to group G (mode 0660), so that its\n"
    "                        members may open it\n"
    "      --mode MODE       the terminal's permissions, in octal (default 0660\n"
    "                        with --group, else the system's 0620: its owner only)\n"
    "                        An option given an empty value (--port=) is as if it\n"
    "                        were not given, for units whose variables may be empty.\n";

const char kTtyBridgeHelp[] =
    "The terminal stays open when the connection drops: the bridge says so once,\n"
    "reconnects after 0.5 s, doubling the wait after each failed attempt up to 8 s\n"
    "(0.5 s again once a connection has held 10 s), and keeps up to 64 KiB written\n"
    "to the terminal meanwhile, sent when the module is back; beyond that it drops\n"
    "them and says how many. A program may close and open the terminal again at\n"
    "any time. The module is reached as for the other commands, through its MAC\n"
    "when it lies outside the host's subnets or shares its address; that ARP\n"
    "entry and host route exist only while the bridge is connected. The first\n"
    "connection must succeed (else status 1), so that a unit restarts it.\n"
    "\n"
    "The systemd unit tarvanix-tty@NAME.service runs one bridge for the file\n"
    "/etc/tarvanix/tty/NAME.conf: TARGET=, and optionally LINK= (default\n"
    "/run/tarvanix/tty/NAME), PORT=, GROUP=, MODE=, and TARVANIX_PASSWORD= for a\n"
    "module with a password (keep that file readable by root only); it restarts\n"
    "a bridge that failed.\n";

const char kTargetsHelp[] =
    "A TARGET is a module's IP address (192.0.2.11) or MAC address\n"
    "(02:54:58:01:00:0B). Each target is first looked up by a search: a search by\n"
    "IP address for a lone address (then a broadcast if that finds nothing), else\n"
    "one broadcast, so that a module outside the host's subnets is reached through\n"
    "its MAC address; the addresses it did not find are then asked together in one\n"
    "search by IP.\n";

const char kFleetOptions[] =
    "      --all             act on every module a broadcast finds\n"
    "      --targets FILE    read the targets from FILE: one a line, optionally\n"
    "                        followed by the module's password; '#' starts a comment\n"
    "  -j, --jobs N          run at most N targets at once (1 to 64, default 4)\n";

const char kSetOptions[] =
    "      --from FILE       take the values from a settings file: what 'get --json'\n"
    "                        or the window's \"Save settings to file...\" wrote. Its\n"
    "                        shown-only fields (lanMac, fmwVer, lanStatus) are\n"
    "                        ignored with a note; lanIp, lanMask, lanGw and lanIpCfg\n"
    "                        are taken only from a file saved from the same module\n"
    "      --with-address    take them also from a file saved from another module\n"
    "      --dry-run         print what would change; send no write line\n"
    "      --change-password\n"
    "                        also give the module a new password, read from\n"
    "                        TARVANIX_NEW_PASSWORD or asked twice on the terminal;\n"
    "                        a module that logged in with it has it already\n";

const char kPlanOptions[] =
    "      --plan FILE       a plan of comma-separated values (RFC 4180 quoting,\n"
    "                        at most 1 MiB): a header naming lanMac and any settings\n"
    "                        below (lanMac,lanIp,lanMask,lanGw,devName), then one\n"
    "                        module a line; an empty cell keeps the module's value.\n"
    "                        The whole plan is refused (status 2) before anything\n"
    "                        is sent when a column is unknown or repeated, lanMac is\n"
    "                        missing, a MAC is bad or listed twice, two lines give\n"
    "                        one lanIp, or a value would be refused (a number,\n"
    "                        its range, a choice, an address). A module the\n"
    "                        broadcast does not find fails its line only\n";

const char kSettingsHelp[] =
    "Settings for set: the configuration window's: devName webEn diolp sp0_baud\n"
    "sp0_dataFmt lanIpCfg lanIp lanMask lanGw lanPingEn sp0_tcpslport sp0_tcpcrip\n"
    "sp0_tcpcrport sp0_tcpcat; and these, which the window shows but does not let\n"
    "the user change (sp0_opmode) or does not show at all (the others): sp0_opmode\n"
    "sp0_fc sp0_if sp0_dpCtrl sp0_dpLen sp0_dpTm sp0_dpStr. Each takes only what\n"
    "the window's control would hold and passes the checks of \"Save to Module\";\n"
    "a value that depends on a mode (the ports of a TCP mode, the packing values,\n"
    "the static addresses) can be changed only while that mode is on, in the same\n"
    "call or before. fmwVer, lanMac and lanStatus are never set; passwords only\n"
    "with --change-password. A choice takes one of the window's items or the\n"
    "module's own code for it: sp0_baud 921600 ... 300; sp0_dataFmt parity N E O\n"
    "S M, data bits 5-8, stop bits 1-2 (N81); sp0_fc NONE RTS/CTS XON/XOFF; sp0_if\n"
    "RS-232 RS-485; lanIpCfg Static DHCP (0 1); sp0_opmode \"TCP Server\" \"TCP\n"
    "Client\" (TS TC); sp0_tcpcat Startup \"Serial data in\" (0 1); webEn,\n"
    "lanPingEn 0 1; sp0_dpCtrl three switches delimiter, timeout, length (100).\n";

const char kCommonOptions[] =
    "      --json            print JSON (json.md.gz, see Files): discover and get\n"
    "                        their output, set, reboot and upgrade their summary\n"
    "  -q, --quiet           no progress and no notes on standard error; failures\n"
    "                        are still printed\n"
    "  -v, --verbose         also print the diagnostic log lines\n"
    "  -h, --help            display this help and exit (COMMAND --help: that\n"
    "                        command's alone)\n"
    "  -V, --version         output version information and exit\n";

const char kFilesHelp[] =
    "Every file named on the command line must be a regular file (settings,\n"
    "targets and plan files at most 1 MiB); anything else is refused at once with\n"
    "status 2.\n";

// The installation's documentation folder, beside the program's own folder as
// `cmake --install` and the package lay them out; elsewhere (the build tree)
// the package's.
QString documentationFolder()
{
    if (QCoreApplication::instance()) {
        const QString beside = QDir::cleanPath(QCoreApplication::applicationDirPath()
                                               + QStringLiteral("/" TARVANIX_DOC_RELATIVE_PATH));
        if (QFileInfo::exists(beside + QStringLiteral("/json.md.gz")))
            return beside;
    }
    return QStringLiteral(TARVANIX_PACKAGE_DOC_DIR);
}

QString commandHelp(const char* usage, const char* what, std::initializer_list<const char*> parts)
{
    QString out = QStringLiteral("Usage: tarvanix-cli %1\n").arg(QLatin1String(usage));
    out += QLatin1String(what);
    for (const char* part : parts)
        out += QLatin1Char('\n') + QLatin1String(part);
    out += QStringLiteral("\nSee 'tarvanix-cli --help' for passwords, exit statuses, the "
                          "environment and the files.\n");
    return out;
}

} // namespace

QString helpText(Command command)
{
    switch (command) {
    case Command::Discover:
        return commandHelp("discover [--ip ADDRESS] [--json|--csv]", kDiscoverHelp,
                           {"      --ip ADDRESS      search by IP address instead of broadcast\n"
                            "      --csv             print comma-separated values (LF line ends)\n",
                            kCommonOptions});
    case Command::Get:
        return commandHelp("get TARGET... [--json]", kGetHelp,
                           {kTargetsHelp, kFleetOptions, kCommonOptions});
    case Command::Set:
        return commandHelp("set TARGET... (--from FILE.json | NAME=VALUE...) [OPTION]...\n"
                           "  or:  tarvanix-cli set --plan FILE.csv [OPTION]...",
                           kSetHelp,
                           {kTargetsHelp, kSetOptions, kPlanOptions, kFleetOptions, kCommonOptions,
                            kSettingsHelp, kFilesHelp});
    case Command::Reboot:
        return commandHelp("reboot TARGET... [--wait] [--json]", kRebootHelp,
                           {kTargetsHelp, kFleetOptions,
                            "      --wait            return when each module answers again\n",
                            kCommonOptions});
    case Command::Upgrade:
        return commandHelp("upgrade TARGET... --firmware FILE.aff [--wait] [--json]", kUpgradeHelp,
                           {kTargetsHelp, kFleetOptions,
                            "      --firmware FILE   the firmware file\n"
                            "      --wait            return when each module answers again;\n"
                            "                        print the firmware version it reports\n",
                            kCommonOptions, kFilesHelp});
    case Command::Tty:
        return commandHelp("tty TARGET --link PATH [--port N] [--group G] [--mode MODE]", kTtyHelp,
                           {kTargetsHelp, kTtyOptions, kTtyBridgeHelp, kCommonOptions});
    case Command::None:
        break;
    }
    QString out = QStringLiteral(
        "Usage: tarvanix-cli COMMAND [OPTION]... [TARGET]...\n"
        "Find, read, configure, reboot and upgrade Tarvanix device-server modules\n"
        "on the local IPv4 network, one module or a whole fleet at a time, and make a\n"
        "module's serial port a terminal of this host.\n"
        "\n");
    out += QLatin1String(kTargetsHelp);
    out += QStringLiteral("\nCommands:\n");
    for (const char* part :
         {kDiscoverHelp, kGetHelp, kSetHelp, kRebootHelp, kUpgradeHelp, kTtyHelp})
        out += QLatin1String(part);
    out += QStringLiteral("\nOptions:\n");
    out += QLatin1String(kFleetOptions);
    out += QStringLiteral(
        "      --ip ADDRESS      discover: search by IP address instead of broadcast\n"
        "      --csv             discover: print comma-separated values (LF line ends)\n");
    out += QString::fromLatin1(kSetOptions)
               .replace(QStringLiteral("      --from FILE       take"),
                        QStringLiteral("      --from FILE       set: take"));
    out += QString::fromLatin1(kPlanOptions)
               .replace(QStringLiteral("      --plan FILE       a plan"),
                        QStringLiteral("      --plan FILE       set: a plan"));
    out += QStringLiteral(
        "      --wait            reboot, upgrade: return when each module answers again\n"
        "      --firmware FILE   upgrade: the firmware file\n");
    out += QString::fromLatin1(kTtyOptions)
               .replace(QStringLiteral("      --link PATH       where"),
                        QStringLiteral("      --link PATH       tty: where"));
    out += QLatin1String(kCommonOptions);
    out += QLatin1Char('\n') + QLatin1String(kSettingsHelp);
    out += QLatin1Char('\n') + QLatin1String(kFilesHelp);
    out += QLatin1Char('\n') + QLatin1String(kTtyBridgeHelp);
    out += QStringLiteral(
        "\n"
        "Passwords are never taken from the command line. A module that has one gets\n"
        "the password of its line in the targets file, else TARVANIX_PASSWORD, else\n"
        "the one typed at a prompt on the terminal (not echoed).\n"
        "\n"
        "Progress goes to standard error: a bar on a terminal, plain lines otherwise;\n"
        "it never moves back. Control characters in what modules send (names,\n"
        "answers quoted in messages) are printed as \\xNN. In CSV a cell that begins\n"
        "with =, +, - or @ gets a single quote in front, so a spreadsheet shows it as\n"
        "text. set, reboot and upgrade print a summary, one row a target (--json: one\n"
        "object a target).\n"
        "\n"
        "Modules outside the host's subnets are reached through temporary ARP entries\n"
        "and host routes made by the helper tarvanix-netpin; the README (see Files)\n"
        "says what privilege it needs, in \"The privileged helper\".\n"
        "\n"
        "Exit status:\n"
        "  0    every target succeeded (or was unchanged, or a dry run)\n"
        "  1    at least one target failed (the summary names each one; set --plan:\n"
        "       a module was not found, not written, or not found again as planned;\n"
        "       tty: the module was not read, is not a TCP server, or its data port\n"
        "       did not answer the first connection)\n"
        "  2    the command line, a targets file, a settings file, a plan, the\n"
        "       firmware file or tty's link path was refused, or a target names an\n"
        "       address that several modules answer; nothing was sent to a module\n"
        "  3    the search could not run, or found no module (discover: none answered;\n"
        "       the empty list is still printed)\n"
        "  4    standard output could not be written (a full disk, a closed pipe or\n"
        "       descriptor), as standard error says; the modules may have been\n"
        "       changed all the same\n"
        "  130  ended by SIGINT, SIGTERM or SIGHUP (also at a password prompt); every\n"
        "       run stopped and removed its temporary ARP entries and host routes\n"
        "       (tty: and its link); the usual end of tty\n"
        "\n"
        "Environment:\n"
        "  TARVANIX_PASSWORD      password of the modules that have one\n"
        "  TARVANIX_NEW_PASSWORD  the new password for set --change-password (empty:\n"
        "                         remove the password)\n"
        "\n");
    out += QStringLiteral(
               "Files:\n"
               "  %1/json.md.gz\n"
               "                        every --json output and the settings file, described\n"
               "  %1/README.md.gz\n"
               "                        the utility, this program, plans and the helper's\n"
               "                        privilege\n"
               "\n")
               .arg(documentationFolder());
    out += QStringLiteral(
        "Examples:\n"
        "  $ tarvanix-cli discover --csv\n"
        "  $ tarvanix-cli get 192.0.2.11 --json > m1.json\n"
        "  $ tarvanix-cli set 02:54:58:01:00:0B sp0_baud=9600 devName=Hall-3\n"
        "  $ tarvanix-cli set --targets lines.txt --from m1.json --dry-run\n"
        "  $ tarvanix-cli set --plan commissioning.csv --json\n"
        "  $ tarvanix-cli upgrade --all --firmware new.aff --jobs 8 --wait\n"
        "  $ tarvanix-cli tty 02:54:58:01:00:0B --link /run/tarvanix/tty/plc --group dialout\n");
    return out;
}

QString versionText()
{
    return QStringLiteral("tarvanix-cli (Tarvanix Utility) " TARVANIX_VERSION "\n");
}

QString usageHint()
{
    return QStringLiteral("Try 'tarvanix-cli --help' for more information.");
}

} // namespace tvx::cli
