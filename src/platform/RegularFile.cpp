#include "platform/RegularFile.h"

#include "platform/UniqueFd.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx {

namespace {

QString failure(const QString& path, const QString& why)
{
    return QStringLiteral("%1: %2").arg(path, why);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

UniqueFd openChecked(const QString& path, qint64 maxBytes, QString& error, qint64& size)
{
    if (path.isEmpty()) {
        error = QStringLiteral("no file name given");
        return {};
    }
    UniqueFd fd;
    struct stat st {};
    switch (openRegularFile(QFile::encodeName(path).constData(), fd, st)) {
    case FileOpen::Failed:
        error = failure(path, errnoText(errno));
        return {};
    case FileOpen::NotRegular:
        error = failure(path,
                        S_ISDIR(st.st_mode) ? QStringLiteral("is a folder, not a file")
                                            : QStringLiteral("not a regular file"));
        return {};
    case FileOpen::Regular:
        break;
    }
    if (st.st_size > maxBytes) {
        error = failure(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        return {};
    }
    size = st.st_size;
    return fd;
}

// The folder part of a path and its last name, as the rename needs them.
QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// A new file beside the one it will replace, made with O_EXCL under a name
// nobody else uses, so no other file or link can be written through it. The
// mode 0666 lets the umask decide, as for any file the user creates.
UniqueFd createTemporary(const QByteArray& target, QByteArray& name)
{
    const QByteArray folder = folderOf(target);
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/." + base + "."
            + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        UniqueFd fd(::open(name.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666));
        if (fd || errno != EEXIST)
            return fd;
    }
    return {};
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* at = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        at += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

QString checkRegularFile(const QString& path, qint64 maxBytes)
{
    QString error;
    qint64 size = 0;
    openChecked(path, maxBytes, error, size);
    return error;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& error)
{
    qint64 size = 0;
    error.clear();
    UniqueFd fd = openChecked(path, maxBytes, error, size);
    if (!fd)
        return std::nullopt;
    // The file may grow while it is read: never more than the bound.
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(size));
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = failure(path, errnoText(errno));
            return std::nullopt;
        }
        if (n == 0)
            break;
        if (bytes.size() + n > maxBytes) {
            error = failure(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    return bytes;
}

FileOpen openRegularFile(const char* path, UniqueFd& fd, struct stat& st)
{
    fd.reset(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd)
        return FileOpen::Failed;
    if (::fstat(fd.get(), &st) != 0) {
        fd.reset();
        return FileOpen::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        fd.reset();
        return FileOpen::NotRegular;
    }
    return FileOpen::Regular;
}

QString writeRegularFile(const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty())
        return QStringLiteral("no file name given");
    QByteArray target = QFile::encodeName(path);
    // Judged by its name alone: opening a FIFO or a device to look at it could
    // already wait, or do something.
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failure(path, errnoText(errno));
    if (exists && !S_ISREG(st.st_mode))
        return failure(path,
                       S_ISDIR(st.st_mode) ? QStringLiteral("is a folder, not a file")
                                           : QStringLiteral("not a regular file"));
    struct stat link {};
    if (exists && ::lstat(target.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(target.constData(), nullptr);
        if (!real)
            return failure(path, errnoText(errno));
        target = real;
        std::free(real);
    }

    QByteArray temporary;
    UniqueFd fd = createTemporary(target, temporary);
    if (!fd)
        return failure(path, errnoText(errno));
    // A failed write, flush or close is reported, and the old file stays whole.
    const bool written = (!exists || ::fchmod(fd.get(), st.st_mode & 07777) == 0)
        && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0
        && ::rename(temporary.constData(), target.constData()) == 0;
    if (!written) {
        const int error = errno;
        fd.reset();
        ::unlink(temporary.constData());
        return failure(path, errnoText(error));
    }
    return {};
}

} // namespace tvx
