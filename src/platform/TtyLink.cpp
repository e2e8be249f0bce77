#include "platform/TtyLink.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tvx {

namespace {

constexpr char kPtsFolder[] = "/dev/pts/";

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Where the link points, or nothing when `path` is not a symbolic link.
QByteArray linkTarget(const QByteArray& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer - 1);
    if (n < 0)
        return {};
    return QByteArray(buffer, static_cast<qsizetype>(n));
}

} // namespace

TtyLink::~TtyLink()
{
    remove();
}

TtyLink::Claim TtyLink::claim(const QString& path, QString& problem)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        problem = QStringLiteral("%1: its folder does not exist").arg(path);
        return Claim::Failed;
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        problem = QStringLiteral("%1: %2").arg(folder, errnoText());
        return Claim::Failed;
    }
    const QString absolute = folder + QLatin1Char('/') + info.fileName();

    UniqueFd hold(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!hold) {
        problem = QStringLiteral("socket failed: %1").arg(errnoText());
        return Claim::Failed;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = "tarvanix-tty "
        + QCryptographicHash::hash(QFile::encodeName(absolute), QCryptographicHash::Sha1).toHex();
    // sun_path[0] stays zero: a name in the abstract namespace, never a file.
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(hold.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EADDRINUSE) {
            problem = QStringLiteral("%1 is in use by another serial port bridge").arg(absolute);
            return Claim::InUse;
        }
        problem = QStringLiteral("%1: %2").arg(absolute, errnoText());
        return Claim::Failed;
    }

    const QByteArray bytes = QFile::encodeName(absolute);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode) || !linkTarget(bytes).startsWith(kPtsFolder)) {
            problem =
                QStringLiteral("%1 exists and is not a serial port bridge's link").arg(absolute);
            return Claim::Occupied;
        }
    } else if (errno != ENOENT) {
        problem = QStringLiteral("%1: %2").arg(absolute, errnoText());
        return Claim::Failed;
    }
    path_ = absolute;
    hold_ = std::move(hold);
    return Claim::Taken;
}

QString TtyLink::make(const QString& target)
{
    const QByteArray path = QFile::encodeName(path_);
    const QByteArray to = QFile::encodeName(target);
    // What is there now was a killed bridge's link when the path was claimed.
    if (linkTarget(path).startsWith(kPtsFolder))
        ::unlink(path.constData());
    if (::symlink(to.constData(), path.constData()) != 0)
        return QStringLiteral("%1: %2").arg(path_, errnoText());
    target_ = target;
    made_ = true;
    return {};
}

void TtyLink::remove()
{
    if (!made_)
        return;
    made_ = false;
    const QByteArray path = QFile::encodeName(path_);
    if (linkTarget(path) == QFile::encodeName(target_))
        ::unlink(path.constData());
}

} // namespace tvx
