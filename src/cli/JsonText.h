#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

namespace tvx::cli {

// A JSON object written in the order its members are given: the device list's
// columns and the settings record's fields read best in their own order,
// which QJsonObject would sort away. Values are strings or integers.
using OrderedObject = QList<QPair<QString, QVariant>>;

QByteArray jsonString(const QString& text);
QByteArray jsonObject(const OrderedObject& members, int indent);
// An array of objects, one per line block, or the single object alone.
QByteArray jsonArray(const QList<OrderedObject>& objects);

} // namespace tvx::cli
