#include "text/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <vector>

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

std::optional<QString> repeatedJsonKey(const QByteArray& json)
{
    // Each open object or array, innermost last; an object with the keys it
    // has named so far and whether a key comes next.
    struct Level {
        bool object = false;
        bool keyNext = false;
        QSet<QString> keys;
    };
    std::vector<Level> levels;
    const qsizetype n = json.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = json[i];
        if (c == '"') {
            const qsizetype start = i;
            for (++i; i < n && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            if (levels.empty() || !levels.back().object || !levels.back().keyNext)
                continue;
            // Compared as decoded: "a" and "\u0061" are one key.
            const QByteArray token = json.mid(start, i - start + 1);
            const QString key =
                QJsonDocument::fromJson("[" + token + "]").array().first().toString();
            Level& level = levels.back();
            level.keyNext = false;
            if (level.keys.contains(key))
                return key;
            level.keys.insert(key);
        } else if (c == '{' || c == '[') {
            levels.push_back({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
        } else if (c == ',' && !levels.empty() && levels.back().object) {
            levels.back().keyNext = true;
        }
    }
    return std::nullopt;
}

} // namespace tvx
