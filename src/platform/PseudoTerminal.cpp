#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tvx {

namespace {
QString failed(const char* what)
{
    return QStringLiteral("%1 failed: %2")
        .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

QString PseudoTerminal::open()
{
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master)
        return failed("posix_openpt");
    if (::grantpt(master.get()) != 0)
        return failed("grantpt");
    if (::unlockpt(master.get()) != 0)
        return failed("unlockpt");
    char name[64] = {};
    if (::ptsname_r(master.get(), name, sizeof name) != 0)
        return failed("ptsname");
    const int flags = ::fcntl(master.get(), F_GETFL, 0);
    if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return failed("fcntl");

    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!slave)
        return failed("open of the slave side");
    // Bytes pass unchanged both ways: no echo, no line editing, no CR/LF
    // translation, no signals from control characters.
    termios raw{};
    if (::tcgetattr(slave.get(), &raw) != 0)
        return failed("tcgetattr");
    ::cfmakeraw(&raw);
    if (::tcsetattr(slave.get(), TCSANOW, &raw) != 0)
        return failed("tcsetattr");

    master_ = std::move(master);
    slave_ = std::move(slave);
    slavePath_ = QString::fromLocal8Bit(name);
    return {};
}

QString PseudoTerminal::setAccess(gid_t group, mode_t mode)
{
    if (group != static_cast<gid_t>(-1)
        && ::fchown(slave_.get(), static_cast<uid_t>(-1), group) != 0)
        return failed("chown of the terminal");
    if (mode != 0 && ::fchmod(slave_.get(), mode) != 0)
        return failed("chmod of the terminal");
    return {};
}

} // namespace tvx
