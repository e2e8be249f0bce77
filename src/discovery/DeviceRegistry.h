#pragma once

#include "handover/DeviceRecords.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace tvx {

class HostNetwork;

// The modules the searches found, and what the program knows of them beside
// their rows: one row per MAC address with the values of its first answer,
// numbered in the order of the first answers; which addresses several listed
// modules answer from, so that the host network reaches each of them by its
// MAC; which modules have a configuration window open. The main window shows
// it as its list and the CLI keeps its searches in it, so both follow the
// same rules. UI thread only.
//
// A module that something still refers to (an open window, a running
// operation) is held: while held, a shared address it was seen at stays
// marked, whatever the list holds after later searches.
class DeviceRegistry : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, DeviceName, Mac, Ip, Password, Model, Mode, Status };
    // The columns of a module as the search found it: what the export and
    // the CLI's tables show.
    static constexpr int kColumns = 7;
    // The list shows one more: Status, what the last operation on several
    // modules did with each of them ("waiting", "rebooting…", "done",
    // "failed: …"), empty until one runs.
    static constexpr int kListColumns = kColumns + 1;
    enum Role {
        // The row's MAC text, whatever the column.
        MacRole = Qt::UserRole + 1,
        // True while the module's configuration window is open.
        OpenRole,
        // What the column sorts by: Number as a number, the rest as text.
        SortRole,
    };

    // Marks go to `net`; without one the registry only lists.
    explicit DeviceRegistry(std::shared_ptr<HostNetwork> net = {}, QObject* parent = nullptr);
    ~DeviceRegistry() override;

    // The columns' captions, Number first (Status not among them).
    static const QStringList& captions();

    // A module's answer: listed unless a row has its MAC (false then).
    bool addDevice(const DiscoveryRecord& record);
    // Answers that came together, in their order, listed as addDevice would
    // list them one by one, in one insertion: a view sorts and lays out the
    // new rows once. The number of rows added.
    int addDevices(const std::vector<DiscoveryRecord>& records);
    // A new search: every row goes. Marks of held modules stay.
    void clear();

    int count() const { return static_cast<int>(rows_.size()); }
    const DiscoveryRecord& record(int row) const { return rows_[static_cast<size_t>(row)].record; }
    // Status included.
    QString cell(int row, Column column) const;
    // The seven cells of a row as the search found them (no Status).
    QStringList cells(int row) const;
    // The row's Status cell, by MAC; nothing when no row has it.
    void setStatus(const QString& macText, const QString& text);
    // Every Status cell empty again (a new operation on several modules).
    void clearStatus();
    // -1 when no row has that MAC text ("%02X:..." upper case) or IP text.
    int rowOfMac(const QString& macText) const;
    int rowOfIp(const QString& ipText) const;
    // The MAC texts listed at that address, in row order.
    QStringList macsAt(const QString& ipText) const;
    // Whether more than one listed module answers from the row's address.
    bool addressShared(int row) const;

    // The modules whose configuration window is open (at most 100, as
    // `openDeviceMacs`). open = true: -1 when the MAC is already there, else
    // 0 (also when every slot is taken and nothing was stored). open = false:
    // removes it, 0.
    int markDeviceOpen(const char* mac, bool open);
    // -1 when the MAC (its first 17 characters) is open, else 0.
    int isDeviceOpen(const char* mac) const;
    // Empties every slot (start-up).
    void clearOpenDevices();

    // Holds the module of that MAC while the handle lives. The handle may be
    // released on any thread.
    std::shared_ptr<void> hold(const QString& macText);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Row {
        DiscoveryRecord record;
        QString cells[kColumns];
        uint32_t address;
        // Kept with the row, so that drawing it asks no table.
        bool open;
        QString status;
    };
    struct Held;

    void markShared(uint32_t address);
    void updateOpenRows();

    std::shared_ptr<HostNetwork> net_;
    std::vector<Row> rows_;
    QHash<QString, int> rowOfMac_;
    QHash<uint32_t, QList<int>> rowsAtAddress_;
    // One mark per address that several listed modules answer from.
    QHash<uint32_t, std::shared_ptr<void>> marks_;
    std::vector<std::weak_ptr<Held>> held_;
    char openDeviceMacs_[100][20] = {};
};

} // namespace tvx
