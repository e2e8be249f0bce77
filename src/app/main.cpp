// Program entry: the application object, the start-up windows, and the
// signals that end the program the same clean way as Exit.
#include "app/AppWindows.h"
#include "app/TarvanixApplication.h"
#include "handover/WorkerOwner.h"
#include "net/SystemNetTables.h"
#include "platform/ExitSignals.h"
#include "widgets/MessageBoxPrompter.h"

#include <QSettings>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The only two options: the window is the program's interface, and Qt's own
// options (-platform, -style, ...) stay Qt's. Everything else is ignored.
// Answered before any window or socket exists, so neither needs a display.
bool answeredHelpOrVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(
                "Usage: tarvanix-utility [--help] [--version]\n"
                "Find, configure, upgrade and reboot the serial-to-Ethernet device-server\n"
                "modules on the local IPv4 networks, in a window.\n"
                "\n"
                "      --help     display this help and exit\n"
                "      --version  output version information and exit\n"
                "\n"
                "Any other argument is ignored. The command-line companion is tarvanix-cli.\n",
                stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("tarvanix-utility (Tarvanix Utility) " TARVANIX_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (answeredHelpOrVersion(argc, argv))
        return std::fflush(stdout) == 0 ? 0 : 1;

    // A module that closes its connection must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    tvx::TarvanixApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvanix-utility"));
    // No display name: the window system would append it to every caption,
    // the main window's included.
    QApplication::setDesktopFileName(QStringLiteral("tarvanix-utility"));
    // The main window decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);

    tvx::MessageBoxPrompter prompter;
    app.setPrompter(&prompter);
    // Shared with the host network the workers hold, so a worker still ending
    // after the wait below never finds its tables gone.
    auto netTables = std::make_shared<tvx::SystemNetTables>(tvx::SystemNetTables::defaultHelperPath(
        QCoreApplication::applicationDirPath().toStdString()));
    // Its start removes what the helpers of killed runs left in the tables;
    // without it the log says why at the first change.
    netTables->startHelper();

    tvx::AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = netTables;
    // Only the window's placement and the list's column widths, in
    // ~/.config/tarvanix-utility/tarvanix-utility.conf.
    env.settings = std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                               QStringLiteral("tarvanix-utility"),
                                               QStringLiteral("tarvanix-utility"));
    auto mainForm = tvx::createAppWindows(env);
    prompter.setDialogParent(mainForm.get());

    // Made before the owner below, so that a signal during its wait is taken
    // as the first one was.
    tvx::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &tvx::ExitSignals::received, mainForm.get(),
                     [&mainForm] { mainForm->close(); });

    int code = 0;
    // Owns every worker the windows start. Made after the windows, so it goes
    // before them: its destructor stops each worker and waits for it while
    // the windows, the prompts and the application are still there, and each
    // worker removes its temporary ARP entry and route on its way out.
    tvx::WorkerOwner workers(tvx::WorkerOwner::kStopBound, [&code](int) {
        std::fprintf(stderr, "tarvanix-utility: a worker did not end in time\n");
        // A worker still runs: the program ends here without taking down the
        // application, the windows or the prompts under it.
        std::fflush(nullptr);
        std::_Exit(code);
    });

    mainForm->show();
    code = app.exec();
    return code;
}
