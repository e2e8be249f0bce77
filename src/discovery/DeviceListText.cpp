#include "discovery/DeviceListText.h"

#include "discovery/DeviceRegistry.h"
#include "text/JsonText.h"
#include "text/PrintableText.h"

#include <QAbstractItemModel>

#include <array>

namespace tvx {

namespace {

// The settings' key style; the password state as the boolean it is.
constexpr std::array<const char*, 7> kKeys = {"number",   "devName", "lanMac", "lanIp",
                                              "password", "model",   "mode"};

// A cell that a spreadsheet would take for a formula (=, +, -, @) gets a single
// quote in front, which makes it text; a control character is shown escaped.
// Both come from the modules' own names, which anybody on the network can set.
QString csvCell(const QString& raw)
{
    QString text = printableText(raw);
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QString tabSeparatedRows(const QAbstractItemModel& model, const QList<int>& rows)
{
    QStringList lines;
    for (const int row : rows) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column) {
            QString cell = model.index(row, column).data().toString();
            // A tab or line break inside a cell would start another one.
            for (QChar& c : cell) {
                if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
                    c = QLatin1Char(' ');
            }
            cells << cell;
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

QList<int> allDeviceRows(const DeviceRegistry& devices)
{
    QList<int> rows;
    for (int i = 0; i < devices.count(); ++i)
        rows << i;
    return rows;
}

QByteArray deviceListCsv(const DeviceRegistry& devices, const QList<int>& rows)
{
    QString out = DeviceRegistry::captions().join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const int row : rows) {
        QStringList cells;
        for (const QString& cell : devices.cells(row))
            cells << csvCell(cell);
        out += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray deviceListJson(const DeviceRegistry& devices, const QList<int>& rows)
{
    QList<OrderedObject> objects;
    for (const int row : rows) {
        const QStringList cells = devices.cells(row);
        OrderedObject object{{QStringLiteral("version"), kJsonVersion}};
        for (size_t c = 0; c < kKeys.size(); ++c) {
            const QString key = QString::fromLatin1(kKeys[c]);
            const QString cell = cells.value(static_cast<qsizetype>(c));
            if (c == DeviceRegistry::Password)
                object.append({key, cell == QLatin1String("Yes")});
            else
                object.append({key, cell});
            if (c == DeviceRegistry::Ip)
                object.append({QStringLiteral("sharedIp"), devices.addressShared(row)});
        }
        objects << object;
    }
    return jsonArray(objects);
}

} // namespace tvx
