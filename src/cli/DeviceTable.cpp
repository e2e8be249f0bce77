#include "cli/DeviceTable.h"

#include "discovery/DeviceRegistry.h"
#include "text/PrintableText.h"

#include <QList>
#include <QString>

#include <array>

namespace tvx::cli {

QByteArray deviceTableText(const DeviceRegistry& devices)
{
    QList<std::array<QString, 7>> lines;
    std::array<QString, 7> header;
    for (size_t c = 0; c < header.size(); ++c)
        header[c] = DeviceRegistry::captions()[static_cast<qsizetype>(c)];
    lines << header;
    for (int i = 0; i < devices.count(); ++i) {
        const QStringList cells = devices.cells(i);
        std::array<QString, 7> row;
        for (size_t c = 0; c < row.size(); ++c)
            // A module's name is whatever bytes it sent.
            row[c] = printableText(cells.value(static_cast<qsizetype>(c)));
        lines << row;
    }
    std::array<qsizetype, 7> width{};
    for (const auto& line : lines) {
        for (size_t c = 0; c < line.size(); ++c)
            width[c] = std::max(width[c], line[c].size());
    }
    QString out;
    for (const auto& line : lines) {
        QString text;
        for (size_t c = 0; c < line.size(); ++c)
            text += (c ? QStringLiteral("  ") : QString()) + line[c].leftJustified(width[c]);
        out += text.trimmed() + QLatin1Char('\n');
    }
    return out.toUtf8();
}

} // namespace tvx::cli
