// Program entry: the application object, the start-up windows, and the
// signals that end the program the same clean way as Exit.
#include "app/AppWindows.h"
#include "app/ExitSignals.h"
#include "app/MessageBoxPrompter.h"
#include "app/TarvanixApplication.h"
#include "platform/SystemNetTables.h"

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // A module that closes its connection must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    tvx::TarvanixApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvanix-utility"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvanix Utility"));
    QApplication::setDesktopFileName(QStringLiteral("tarvanix-utility"));
    // The main window decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);

    tvx::MessageBoxPrompter prompter;
    app.setPrompter(&prompter);
    tvx::SystemNetTables netTables(tvx::SystemNetTables::defaultHelperPath(
        QCoreApplication::applicationDirPath().toStdString()));
    // Its start removes what the helpers of killed runs left in the tables;
    // without it the log says why at the first change.
    netTables.startHelper();

    tvx::AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = &netTables;
    auto mainForm = tvx::createAppWindows(env);
    prompter.setParent(mainForm.get());

    tvx::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &tvx::ExitSignals::received, mainForm.get(),
                     [&mainForm] { mainForm->close(); });

    mainForm->show();
    const int code = app.exec();
    // Each worker removes its temporary ARP entry and route on its way out.
    if (!tvx::TmainForm::drainWorkers(30000))
        std::fprintf(stderr, "tarvanix-utility: a worker did not end in time\n");
    return code;
}
