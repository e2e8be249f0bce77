#include "config/DeviceListText.h"

#include "config/JsonText.h"
#include "config/PrintableText.h"
#include "config/SettingsEdit.h"

#include <array>

namespace tvx {

namespace {

constexpr std::array<const char*, 7> kCaptions = {
    "Number", "Device Name", "MAC Address", "IP Address", "Password", "Model Name", "Device Mode"};
// The settings' key style; the password state as the boolean it is.
constexpr std::array<const char*, 7> kKeys = {"number",   "devName", "lanMac", "lanIp",
                                              "password", "model",   "mode"};
constexpr size_t kPasswordColumn = 4;

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

QString cell(const QStringList& row, size_t column)
{
    const auto c = static_cast<qsizetype>(column);
    return c < row.size() ? row.at(c) : QString();
}

} // namespace

QByteArray deviceListCsv(const QList<QStringList>& rows)
{
    QString out;
    for (size_t c = 0; c < kCaptions.size(); ++c)
        out += (c ? QStringLiteral(",") : QString()) + QString::fromLatin1(kCaptions[c]);
    out += QLatin1Char('\n');
    for (const QStringList& row : rows) {
        for (size_t c = 0; c < kCaptions.size(); ++c)
            out += (c ? QStringLiteral(",") : QString()) + csvCell(cell(row, c));
        out += QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray deviceListJson(const QList<QStringList>& rows)
{
    QList<OrderedObject> objects;
    for (const QStringList& row : rows) {
        OrderedObject object{{QStringLiteral("version"), kJsonVersion}};
        for (size_t c = 0; c < kKeys.size(); ++c) {
            if (c == kPasswordColumn)
                object.append(
                    {QString::fromLatin1(kKeys[c]), cell(row, c) == QLatin1String("Yes")});
            else
                object.append({QString::fromLatin1(kKeys[c]), cell(row, c)});
        }
        objects << object;
    }
    return jsonArray(objects);
}

} // namespace tvx
