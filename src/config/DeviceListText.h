#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace tvx {

// The device list as scripts read it, from the window's export and from
// `tarvanix-cli discover` alike: CSV under the list's captions (RFC 4180
// quoting, LF line ends; a cell that would start a formula begins with a
// single quote, control characters are escaped), or the JSON array of
// docs/json.md. Each row holds the list's seven cells in column order, Number
// first.
QByteArray deviceListCsv(const QList<QStringList>& rows);
QByteArray deviceListJson(const QList<QStringList>& rows);

} // namespace tvx
