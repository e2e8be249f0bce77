#include "config/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace tvx {

QByteArray jsonString(const QString& text)
{
    // Qt's own escaping, without the array around it.
    const QByteArray wrapped = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray jsonObject(const OrderedObject& members, int indent)
{
    const QByteArray pad(indent + 2, ' ');
    QByteArray out = "{\n";
    for (qsizetype i = 0; i < members.size(); ++i) {
        const auto& [name, value] = members[i];
        out += pad + jsonString(name) + ": ";
        if (value.typeId() == QMetaType::Int)
            out += QByteArray::number(value.toInt());
        else if (value.typeId() == QMetaType::Bool)
            out += value.toBool() ? "true" : "false";
        else if (value.typeId() == QMetaType::QByteArray)
            out += value.toByteArray();
        else
            out += jsonString(value.toString());
        out += i + 1 < members.size() ? ",\n" : "\n";
    }
    out += QByteArray(indent, ' ') + "}";
    return out;
}

QByteArray jsonArray(const QList<OrderedObject>& objects)
{
    QByteArray out = "[";
    for (qsizetype i = 0; i < objects.size(); ++i)
        out += (i ? ",\n  " : "\n  ") + jsonObject(objects[i], 2);
    out += objects.isEmpty() ? "]\n" : "\n]\n";
    return out;
}

} // namespace tvx
