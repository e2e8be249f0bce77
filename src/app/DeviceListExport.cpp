#include "app/DeviceListExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tvx {

namespace {
QString csvCell(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString cell(const QStringList& row, int column)
{
    return column < row.size() ? row.at(column) : QString();
}
} // namespace

QByteArray deviceListCsv(const QList<QStringList>& rows)
{
    QString out = QStringLiteral(
        "Number,Device Name,MAC Address,IP Address,Password,Model Name,Device Mode\n");
    for (const QStringList& row : rows) {
        for (int c = 0; c < 7; ++c)
            out += (c ? QStringLiteral(",") : QString()) + csvCell(cell(row, c));
        out += QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray deviceListJson(const QList<QStringList>& rows)
{
    // Key order as the companion prints it, "version" first: QJsonObject
    // would sort the keys, so each object is written by hand.
    static const char* const keys[] = {"number",   "devName", "lanMac", "lanIp",
                                       "password", "model",   "mode"};
    QByteArray out = "[";
    for (qsizetype i = 0; i < rows.size(); ++i) {
        out += i ? ",\n  {\n" : "\n  {\n";
        out += "    \"version\": 1";
        for (int c = 0; c < 7; ++c) {
            out += ",\n    \"";
            out += keys[c];
            out += "\": ";
            if (c == 4) {
                out += cell(rows[i], c) == QStringLiteral("Yes") ? "true" : "false";
            } else {
                // A one-element array gives a correctly escaped JSON string.
                const QByteArray quoted =
                    QJsonDocument(QJsonArray{cell(rows[i], c)}).toJson(QJsonDocument::Compact);
                out += quoted.mid(1, quoted.size() - 2);
            }
        }
        out += "\n  }";
    }
    out += rows.isEmpty() ? "]\n" : "\n]\n";
    return out;
}

} // namespace tvx
