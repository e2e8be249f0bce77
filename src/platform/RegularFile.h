#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tvx {

// Files named by a user or a script are opened without blocking and taken only
// when they are regular files of a bounded size: a FIFO, a device such as
// /dev/zero or a huge file is refused at once instead of hanging or filling
// memory. Every error text begins with the path.
constexpr qint64 kTextFileMaxBytes = 1024 * 1024;

// Empty when `path` names a regular file of at most `maxBytes` bytes that can be
// opened for reading; else why not.
QString checkRegularFile(const QString& path, qint64 maxBytes);

// The whole file, or nothing with `error` set.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& error);

} // namespace tvx
