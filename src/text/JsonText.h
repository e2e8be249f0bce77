#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <optional>

namespace tvx {

// The version of the JSON documents the utility and the CLI write.
constexpr int kJsonVersion = 1;

// A JSON object written in the order its members are given: the device list's
// columns and the settings record's fields read best in their own order,
// which QJsonObject would sort away. A value is written by its type: a string,
// an integer or a boolean as such; a QByteArray is JSON text already (a nested
// object or array) and goes in as it is.
using OrderedObject = QList<QPair<QString, QVariant>>;

QByteArray jsonString(const QString& text);
QByteArray jsonObject(const OrderedObject& members, int indent);
// An array of objects, one per line block; always an array, also for one.
QByteArray jsonArray(const QList<OrderedObject>& objects);

// The first key that one object of `json` names twice, in the order of the
// text; nothing when every object names each key once. `json` must be valid
// JSON (QJsonDocument parsed it): Qt's parser keeps the last of two values
// silently, and a file that says two things about a setting means neither.
std::optional<QString> repeatedJsonKey(const QByteArray& json);

} // namespace tvx
