#include "cli/DeviceTable.h"

#include "discovery/DeviceRegistry.h"

#include <QList>
#include <QString>

#include <array>
#include <cstring>

namespace tvx::cli {

namespace {

// A module's name is whatever bytes it sent: control characters are shown
// escaped so that they cannot steer the terminal.
QString printable(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

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
            row[c] = printable(cells.value(static_cast<qsizetype>(c)));
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
