#include "cli/CliHelp.h"

namespace tvx::cli {

QString helpText()
{
    return QStringLiteral(
        "Usage: tarvanix-cli COMMAND [OPTION]... [TARGET]...\n"
        "Find, read, configure, reboot and upgrade Tarvanix device-server modules\n"
        "on the local IPv4 network, one module or a whole fleet at a time.\n"
        "\n"
        "A TARGET is a module's IP address (192.0.2.11) or MAC address\n"
        "(02:54:58:01:00:0B). Each target is first looked up by a search: a search by\n"
        "IP address, or a broadcast, so that a module outside the host's subnets is\n"
        "reached through its MAC address.\n"
        "\n"
        "Commands:\n"
        "  discover [--ip ADDRESS] [--json|--csv]\n"
        "                        list the modules that answer a broadcast (or the one\n"
        "                        at ADDRESS) as the device list shows them\n"
        "  get TARGET... [--json]\n"
        "                        print all settings of each module as NAME=VALUE lines\n"
        "                        (JSON: the settings record's field names)\n"
        "  set TARGET... (--from FILE.json | NAME=VALUE...) [--change-password]\n"
        "                        read the settings, apply the given values, check them\n"
        "                        as \"Save to Module\" does, write them; the module\n"
        "                        restarts\n"
        "  reboot TARGET...      restart each module\n"
        "  upgrade TARGET... --firmware FILE.aff\n"
        "                        put the firmware file into each module\n"
        "\n"
        "Options:\n"
        "      --all             act on every module a broadcast finds\n"
        "      --targets FILE    read the targets from FILE: one a line, optionally\n"
        "                        followed by the module's password; '#' starts a comment\n"
        "  -j, --jobs N          run at most N targets at once (1 to 64, default 4)\n"
        "      --ip ADDRESS      discover: search by IP address instead of broadcast\n"
        "      --json            print JSON\n"
        "      --csv             discover: print comma-separated values\n"
        "      --from FILE       set: take the values from a JSON object such as\n"
        "                        'get --json' prints\n"
        "      --change-password set: also give the module a new password, read from\n"
        "                        TARVANIX_NEW_PASSWORD or asked twice on the terminal\n"
        "      --firmware FILE   upgrade: the firmware file\n"
        "  -v, --verbose         also print the diagnostic log lines\n"
        "  -h, --help            display this help and exit\n"
        "  -V, --version         output version information and exit\n"
        "\n"
        "Settings for set: devName webEn diolp sp0_baud sp0_dataFmt sp0_fc sp0_if\n"
        "sp0_dpCtrl sp0_dpLen sp0_dpTm sp0_dpStr lanIpCfg lanIp lanMask lanGw lanPingEn\n"
        "sp0_opmode sp0_tcpslport sp0_tcpcrip sp0_tcpcrport sp0_tcpcat. A choice takes\n"
        "one of the configuration window's items or the module's own code for it:\n"
        "sp0_baud 921600 ... 300; sp0_dataFmt parity N E O S M, data bits 5-8, stop\n"
        "bits 1-2 (N81); sp0_fc NONE RTS/CTS XON/XOFF; sp0_if RS-232 RS-485; lanIpCfg\n"
        "Static DHCP (0 1); sp0_opmode \"TCP Server\" \"TCP Client\" (TS TC);\n"
        "sp0_tcpcat Startup \"Serial data in\" (0 1); webEn, lanPingEn 0 1.\n"
        "\n"
        "Passwords are never taken from the command line. A module that has one gets\n"
        "the password of its line in the targets file, else TARVANIX_PASSWORD, else\n"
        "the one typed at a prompt on the terminal (not echoed).\n"
        "\n"
        "Progress goes to standard error: a bar on a terminal, plain lines otherwise.\n"
        "Every command but discover and get prints a summary table, one row a target.\n"
        "\n"
        "Exit status:\n"
        "  0    every target succeeded\n"
        "  1    at least one target failed (the summary names each one)\n"
        "  2    the command line, a targets file, a settings file or the firmware\n"
        "       file was refused; nothing was sent to a module\n"
        "  3    the search could not run, or found no module to act on\n"
        "  130  ended by SIGINT, SIGTERM or SIGHUP; every run stopped and removed its\n"
        "       temporary ARP entries and host routes\n"
        "\n"
        "Environment:\n"
        "  TARVANIX_PASSWORD      password of the modules that have one\n"
        "  TARVANIX_NEW_PASSWORD  the new password for set --change-password (empty:\n"
        "                         remove the password)\n"
        "\n"
        "Examples:\n"
        "  tarvanix-cli discover --csv\n"
        "  tarvanix-cli get 192.0.2.11 --json > m1.json\n"
        "  tarvanix-cli set 02:54:58:01:00:0B sp0_baud=9600 devName=Hall-3\n"
        "  tarvanix-cli set --targets lines.txt --from m1.json --jobs 8\n"
        "  tarvanix-cli upgrade --all --firmware TX-110-V2.00.aff --jobs 4\n"
        "\n"
        "Modules outside the host's subnets are reached through temporary ARP entries\n"
        "and host routes made by the helper tarvanix-netpin; see the README for the\n"
        "privilege it needs.\n");
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
