#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/stat.h>

namespace tvx {

// Files named by a user or a script are opened without blocking and taken only
// when they are regular files of a bounded size: a FIFO, a device such as
// /dev/zero or a huge file is refused at once instead of hanging or filling
// memory. Every error text begins with the path.
constexpr qint64 kTextFileMaxBytes = 1024 * 1024;

// How opening a file for reading ended.
enum class FileOpen {
    Regular, // `fd` holds it
    NotRegular, // something else is there: a folder, a FIFO, a device
    Failed, // the open itself failed; errno tells why
};

// Opens `path` (file system bytes) read-only. O_NONBLOCK keeps the open of a
// FIFO without a writer from waiting; the type is then judged on the descriptor
// itself, so nothing can be swapped in between the check and the reading.
// `st` is the descriptor's status when it was looked at.
FileOpen openRegularFile(const char* path, UniqueFd& fd, struct stat& st);

// Empty when `path` names a regular file of at most `maxBytes` bytes that can be
// opened for reading; else why not.
QString checkRegularFile(const QString& path, qint64 maxBytes);

// The whole file, or nothing with `error` set.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& error);

// Replaces `path` with `bytes` as a whole, or leaves it as it was: the bytes go
// to a new file in the same folder, which takes the place of the old one only
// once every byte is written, flushed and closed. A path that names anything
// but a regular file (a FIFO, a device, a folder) is refused at once, without
// opening it. A link to a regular file stays a link; the file it names is
// replaced, keeping its permissions. Empty when written, else why not.
QString writeRegularFile(const QString& path, const QByteArray& bytes);

} // namespace tvx
