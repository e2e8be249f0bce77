#include "cli/PasswordSource.h"

#include "text/PrintableText.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace tvx::cli {

namespace {

constexpr int kPasswordMaxChars = 8;

// The terminal as it was before the prompt, for the interrupt handler.
int promptFd = -1;
termios savedTerminal{};
// The signal that ended the prompt, if one did.
volatile sig_atomic_t promptSignal = 0;

constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
constexpr int kPromptSignalCount = sizeof kPromptSignals / sizeof kPromptSignals[0];
struct sigaction previousActions[kPromptSignalCount];

bool endsTheProgram(int signal)
{
    return signal == SIGINT || signal == SIGTERM || signal == SIGHUP;
}

// The echo comes back first, whatever follows. A signal that ends the program
// goes on to the program's own handler, which stops it the orderly way (exit
// status 130) once the prompt has returned; the read is interrupted, not
// restarted. Any other signal, or one the program does not handle, takes its
// default action.
void atPromptSignal(int signal)
{
    if (promptFd >= 0)
        ::tcsetattr(promptFd, TCSAFLUSH, &savedTerminal);
    for (int i = 0; i < kPromptSignalCount; ++i) {
        const struct sigaction& previous = previousActions[i];
        if (kPromptSignals[i] != signal || !endsTheProgram(signal)
            || (previous.sa_flags & SA_SIGINFO) || previous.sa_handler == SIG_DFL
            || previous.sa_handler == SIG_IGN)
            continue;
        promptSignal = signal;
        previous.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off for the life of one prompt, on every way out.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd)
    {
        if (::tcgetattr(fd_, &savedTerminal) != 0)
            return;
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        promptFd = fd_;
        promptSignal = 0;
        struct sigaction sa {};
        sa.sa_handler = atPromptSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the read must end
        for (int i = 0; i < kPromptSignalCount; ++i) {
            // An ignored signal (nohup) stays ignored.
            ::sigaction(kPromptSignals[i], nullptr, &previousActions[i]);
            installed_[i] = previousActions[i].sa_handler != SIG_IGN;
            if (installed_[i])
                ::sigaction(kPromptSignals[i], &sa, nullptr);
        }
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (active_)
            ::tcsetattr(fd_, TCSAFLUSH, &savedTerminal);
        for (int i = 0; i < kPromptSignalCount; ++i) {
            if (installed_[i])
                ::sigaction(kPromptSignals[i], &previousActions[i], nullptr);
        }
        promptFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    bool installed_[kPromptSignalCount] = {};
    bool active_ = false;
};

} // namespace

std::optional<QByteArray> PasswordSource::fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return QByteArray(value);
}

std::optional<QByteArray> PasswordSource::ask(const QString& prompt, bool& interrupted)
{
    interrupted = false;
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray typed;
    {
        EchoOff quiet(fd);
        const QByteArray text = printableText(prompt).toLocal8Bit();
        (void)!::write(fd, text.constData(), static_cast<size_t>(text.size()));
        char c;
        while (promptSignal == 0 && ::read(fd, &c, 1) == 1 && c != '\n' && c != '\r')
            typed += c;
        interrupted = promptSignal != 0;
        if (interrupted)
            (void)!::write(fd, "\n", 1);
    }
    ::close(fd);
    if (interrupted) {
        typed.fill('\0');
        return std::nullopt;
    }
    return typed;
}

QString PasswordSource::check(const QByteArray& password)
{
    if (password.size() > kPasswordMaxChars)
        return QStringLiteral("password longer than %1 characters").arg(kPasswordMaxChars);
    for (const char c : password) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return QStringLiteral("password with characters a module cannot take");
    }
    return {};
}

} // namespace tvx::cli
