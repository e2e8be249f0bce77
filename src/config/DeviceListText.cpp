#include "config/DeviceListText.h"

#include "config/JsonText.h"
#include "config/SettingsEdit.h"
#include "discovery/DeviceRegistry.h"

#include <array>

namespace tvx {

namespace {

// The settings' key style; the password state as the boolean it is.
constexpr std::array<const char*, 7> kKeys = {"number",   "devName", "lanMac", "lanIp",
                                              "password", "model",   "mode"};

QString csvCell(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

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
