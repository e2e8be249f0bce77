#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QAbstractItemModel;

namespace tvx {

class DeviceRegistry;

// The device list as scripts read it, from the window's export and from
// `tarvanix-cli discover` alike: CSV under the list's captions (RFC 4180
// quoting, LF line ends; a cell that would start a formula begins with a
// single quote, control characters are escaped), or the JSON array of
// docs/json.md, which also says whether a module's address is answered by
// other modules too. `rows` are the registry's rows to write, in the order to
// write them.
QByteArray deviceListCsv(const DeviceRegistry& devices, const QList<int>& rows);
QByteArray deviceListJson(const DeviceRegistry& devices, const QList<int>& rows);
// Rows of a list as the clipboard takes them: each row's cells as the list
// shows them, tab-separated, one line each, no captions.
QString tabSeparatedRows(const QAbstractItemModel& model, const QList<int>& rows);
// Every row, in the registry's order.
QList<int> allDeviceRows(const DeviceRegistry& devices);

} // namespace tvx
