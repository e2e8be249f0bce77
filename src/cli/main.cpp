// tarvanix-cli: the utility's operations for scripts and fleets, on the same
// library as the windows, under an event loop without any window.
#include "app/ExitSignals.h"
#include "handover/WorkerThread.h"
#include "cli/CliApp.h"
#include "cli/CliExit.h"
#include "cli/CliHelp.h"
#include "cli/CliRequest.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // A module that closes its connection must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvanix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVANIX_VERSION));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const tvx::cli::ParsedCommandLine parsed = tvx::cli::parseCommandLine(args);
    if (!parsed.ok()) {
        std::fprintf(stderr, "tarvanix-cli: %s\n%s\n", qPrintable(parsed.error),
                     qPrintable(tvx::cli::usageHint()));
        return tvx::cli::ExitUsage;
    }

    // An interrupt stops every run the way the windows' Exit does: each
    // worker ends by itself and removes its temporary ARP entry and route.
    std::atomic<bool> interrupted{false};
    tvx::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &tvx::ExitSignals::received, &app, [&interrupted] {
        interrupted.store(true);
        tvx::WorkerThread::stopAll();
    });

    tvx::cli::CliApp cli(interrupted);
    return cli.run(parsed.request);
}
