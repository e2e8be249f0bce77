// Program entry: the application object, the start-up windows and the signal
// handling that ends the program the same clean way as Exit.
#include "app/AppWindows.h"
#include "app/MessageBoxPrompter.h"
#include "platform/SystemNetTables.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// An exception that escapes an event handler is shown in one error box and
// the program goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    tvx::Prompter* prompter = nullptr;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (prompter)
                prompter->showException(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            if (prompter)
                prompter->showException(QStringLiteral("Unknown error"));
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    // A module that closes its connection must never end the program.
    std::signal(SIGPIPE, SIG_IGN);

    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvanix-utility"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvanix Utility"));
    QApplication::setQuitOnLastWindowClosed(false);

    tvx::MessageBoxPrompter prompter;
    app.prompter = &prompter;
    tvx::SystemNetTables netTables(
        tvx::SystemNetTables::defaultHelperPath(QCoreApplication::applicationDirPath().toStdString()));

    tvx::AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = &netTables;
    auto mainForm = tvx::createAppWindows(env);
    prompter.setParent(mainForm.get());

    // SIGINT, SIGTERM and SIGHUP close the main window like Exit does, so
    // every worker is stopped and no temporary ARP entry or route survives.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, mainForm.get(), [&mainForm] {
            char byte;
            [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &byte, 1);
            mainForm->close();
        });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
    }

    mainForm->show();
    const int code = app.exec();
    tvx::TmainForm::drainWorkers(30000);
    return code;
}
