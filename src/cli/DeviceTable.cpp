#include "cli/DeviceTable.h"

#include "config/DeviceListText.h"
#include "config/PrintableText.h"

#include <array>
#include <cstring>

namespace tvx::cli {

namespace {

constexpr std::array<const char*, 7> kCaptions = {
    "Number", "Device Name", "MAC Address", "IP Address", "Password", "Model Name", "Device Mode"};

// The cells of one row, in the columns' order.
std::array<QString, 7> cells(const DiscoveryRecord& r, int number)
{
    return {QString::number(number), recordText(r.deviceName),    recordText(r.macText),
            recordText(r.ipText),    recordText(r.passwordState), recordText(r.modelName),
            recordText(r.deviceMode)};
}

} // namespace

void DeviceTable::addDevice(const DiscoveryRecord& record)
{
    const QByteArray mac(record.macText, static_cast<qsizetype>(strnlen(record.macText, 17)));
    if (macs_.contains(mac))
        return;
    macs_.insert(mac);
    rows_.append(record);
}

const DiscoveryRecord* DeviceTable::findMac(const QString& macText) const
{
    for (const DiscoveryRecord& row : rows_) {
        if (recordText(row.macText).left(17) == macText)
            return &row;
    }
    return nullptr;
}

const DiscoveryRecord* DeviceTable::findIp(const QString& ipText) const
{
    for (const DiscoveryRecord& row : rows_) {
        if (recordText(row.ipText) == ipText)
            return &row;
    }
    return nullptr;
}

QByteArray DeviceTable::toText() const
{
    QList<std::array<QString, 7>> lines;
    std::array<QString, 7> header;
    for (size_t c = 0; c < kCaptions.size(); ++c)
        header[c] = QString::fromLatin1(kCaptions[c]);
    lines << header;
    for (int i = 0; i < rows_.size(); ++i) {
        auto row = cells(rows_[i], i + 1);
        for (QString& cell : row)
            // A module's name is whatever bytes it sent.
            cell = printableText(cell);
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

QList<QStringList> DeviceTable::cellRows() const
{
    QList<QStringList> out;
    for (int i = 0; i < rows_.size(); ++i) {
        const auto row = cells(rows_[i], i + 1);
        out << QStringList(row.begin(), row.end());
    }
    return out;
}

QByteArray DeviceTable::toCsv() const
{
    return deviceListCsv(cellRows());
}

QByteArray DeviceTable::toJson() const
{
    return deviceListJson(cellRows());
}

} // namespace tvx::cli
