#include "platform/RegularFile.h"

#include "platform/UniqueFd.h"

#include <QFile>

#include <cerrno>
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

// O_NONBLOCK keeps the open of a FIFO without a writer from waiting; the type
// is then judged on the descriptor itself, so nothing can be swapped in between.
UniqueFd openChecked(const QString& path, qint64 maxBytes, QString& error, qint64& size)
{
    if (path.isEmpty()) {
        error = QStringLiteral("no file name given");
        return {};
    }
    const QByteArray name = QFile::encodeName(path);
    UniqueFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        error = failure(path, errnoText(errno));
        return {};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = failure(path, errnoText(errno));
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        error = failure(path,
                        S_ISDIR(st.st_mode) ? QStringLiteral("is a folder, not a file")
                                            : QStringLiteral("not a regular file"));
        return {};
    }
    if (st.st_size > maxBytes) {
        error = failure(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        return {};
    }
    size = st.st_size;
    return fd;
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

} // namespace tvx
