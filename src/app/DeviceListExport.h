#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace tvx {

// The device list written out as the command-line companion prints it with
// `discover --csv` and `discover --json`, so one script reads either. Each row
// holds the list's seven cells in column order (Number first).
QByteArray deviceListCsv(const QList<QStringList>& rows);
QByteArray deviceListJson(const QList<QStringList>& rows);

} // namespace tvx
