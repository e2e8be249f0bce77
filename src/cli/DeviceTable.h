#pragma once

#include "handover/DeviceRecords.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace tvx::cli {

// The modules a search found, as the main window's device list holds them:
// one row per MAC address, numbered from 1 in the order of the first answers;
// a module that answers again, or on another link, keeps its first row.
class DeviceTable {
public:
    void addDevice(const DiscoveryRecord& record);
    void clear()
    {
        rows_.clear();
        macs_.clear();
    }
    int count() const { return static_cast<int>(rows_.size()); }
    const QList<DiscoveryRecord>& rows() const { return rows_; }

    // The row of that MAC text ("%02X:..." upper case) or IP text, or null.
    const DiscoveryRecord* findMac(const QString& macText) const;
    const DiscoveryRecord* findIp(const QString& ipText) const;

    // The device list's columns: aligned text, CSV (RFC 4180 quoting, LF line
    // ends), or the JSON array of docs/json.md.
    QByteArray toText() const;
    QByteArray toCsv() const;
    QByteArray toJson() const;

private:
    // Each row's seven cells as the list shows them, numbered from 1.
    QList<QStringList> cellRows() const;

    QList<DiscoveryRecord> rows_;
    // The rows' MAC texts: a repeated answer costs one look-up, whatever the count.
    QSet<QByteArray> macs_;
};

// A record field's text up to its terminating zero.
template <size_t N>
QString recordText(const char (&field)[N])
{
    return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, N)));
}

} // namespace tvx::cli
