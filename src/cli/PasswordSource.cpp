#include "cli/PasswordSource.h"

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

void restoreAndReraise(int signal)
{
    if (promptFd >= 0)
        ::tcsetattr(promptFd, TCSAFLUSH, &savedTerminal);
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
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
            previous_[count_++] = {s, ::signal(s, restoreAndReraise)};
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (active_)
            ::tcsetattr(fd_, TCSAFLUSH, &savedTerminal);
        for (int i = 0; i < count_; ++i)
            ::signal(previous_[i].first, previous_[i].second);
        promptFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    bool active_ = false;
    std::pair<int, sighandler_t> previous_[5];
    int count_ = 0;
};

} // namespace

std::optional<QByteArray> PasswordSource::fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return QByteArray(value);
}

std::optional<QByteArray> PasswordSource::ask(const QString& prompt)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray typed;
    {
        EchoOff quiet(fd);
        const QByteArray text = prompt.toLocal8Bit();
        (void)!::write(fd, text.constData(), static_cast<size_t>(text.size()));
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n' && c != '\r')
            typed += c;
    }
    ::close(fd);
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
