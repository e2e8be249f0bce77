// tarvanix-cli: the utility's operations for scripts and fleets, on the same
// library as the windows, under an event loop without any window.
#include "cli/CliApp.h"
#include "cli/CliExit.h"
#include "cli/CliHelp.h"
#include "cli/CliRequest.h"
#include "platform/ExitSignals.h"
#include "text/PrintableText.h"

#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kExitSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[3];
int watchdogPipe[2] = {-1, -1};
std::atomic<bool>* heard = nullptr;

void chainedSignal(int number)
{
    for (int i = 0; i < 3; ++i) {
        if (kExitSignals[i] == number && previousActions[i].sa_handler != SIG_DFL
            && previousActions[i].sa_handler != SIG_IGN)
            previousActions[i].sa_handler(number);
    }
    const char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t n = ::write(watchdogPipe[1], &byte, 1);
}

// The event loop turns a signal into an orderly stop. Where no loop runs (the
// program reads a file or waits for something outside Qt), the signal must
// still end it: nothing there holds a temporary ARP entry or route.
void startSignalWatchdog(std::atomic<bool>& interrupted)
{
    if (::pipe(watchdogPipe) != 0)
        return;
    heard = &interrupted;
    for (int i = 0; i < 3; ++i) {
        struct sigaction sa {};
        sa.sa_handler = chainedSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(kExitSignals[i], &sa, &previousActions[i]);
    }
    std::thread([] {
        char byte;
        while (::read(watchdogPipe[0], &byte, 1) == 1) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!heard->load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!heard->load())
                ::_exit(tvx::cli::ExitInterrupted);
        }
    }).detach();
}

// A standard descriptor that the caller closed (">&-") would be taken by the
// next file or socket the program opens, and the output would go there. Each
// closed one is held by /dev/null opened the other way round, so that a write
// to a closed standard output still fails, as it must.
void holdClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    holdClosedStandardDescriptors();
    // A module that closes its connection must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvanix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVANIX_VERSION));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const tvx::cli::ParsedCommandLine parsed = tvx::cli::parseCommandLine(args);
    if (!parsed.ok()) {
        std::fprintf(stderr, "tarvanix-cli: %s\n%s\n",
                     tvx::printableText(parsed.error).toLocal8Bit().constData(),
                     qPrintable(tvx::cli::usageHint()));
        return tvx::cli::ExitUsage;
    }

    // An interrupt stops every run the way the windows' Exit does: each
    // worker ends by itself and removes its temporary ARP entry and route.
    std::atomic<bool> interrupted{false};
    tvx::ExitSignals exitSignals;
    // Owns the workers; goes first, after waiting for them.
    tvx::cli::CliApp cli(interrupted);
    QObject::connect(&exitSignals, &tvx::ExitSignals::received, &app, [&interrupted, &cli] {
        interrupted.store(true);
        cli.stopWorkers();
    });
    if (exitSignals.installed())
        startSignalWatchdog(interrupted);

    return cli.run(parsed.request);
}
