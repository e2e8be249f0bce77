#include "discovery/DeviceRegistry.h"

#include "handover/RecordText.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"

#include <QSet>

#include <cstring>

namespace tvx {

struct DeviceRegistry::Held {
    QString mac;
    uint32_t address = 0;
    // The host network outlives the marks: it is released after them.
    std::shared_ptr<HostNetwork> net;
    std::vector<std::shared_ptr<void>> marks;
};

DeviceRegistry::DeviceRegistry(std::shared_ptr<HostNetwork> net, QObject* parent)
    : QAbstractTableModel(parent), net_(std::move(net))
{}

DeviceRegistry::~DeviceRegistry() = default;

const QStringList& DeviceRegistry::captions()
{
    static const QStringList texts{QStringLiteral("Number"),      QStringLiteral("Device Name"),
                                   QStringLiteral("MAC Address"), QStringLiteral("IP Address"),
                                   QStringLiteral("Password"),    QStringLiteral("Model Name"),
                                   QStringLiteral("Device Mode")};
    return texts;
}

bool DeviceRegistry::addDevice(const DiscoveryRecord& record)
{
    return addDevices({record}) == 1;
}

int DeviceRegistry::addDevices(const std::vector<DiscoveryRecord>& records)
{
    // A module that answers twice, or on two links, keeps the row of its
    // first answer, also within one batch.
    std::vector<Row> added;
    QSet<QString> macs;
    for (const DiscoveryRecord& record : records) {
        const QString mac = fieldText(record.macText).left(17);
        if (rowOfMac_.contains(mac) || macs.contains(mac))
            continue;
        macs.insert(mac);
        Row row{record, {}, 0, false, {}};
        row.cells[Number] = QString::number(count() + static_cast<int>(added.size()) + 1);
        row.cells[DeviceName] = fieldText(record.deviceName);
        row.cells[Mac] = fieldText(record.macText);
        row.cells[Ip] = fieldText(record.ipText);
        row.cells[Password] = fieldText(record.passwordState);
        row.cells[Model] = fieldText(record.modelName);
        row.cells[Mode] = fieldText(record.deviceMode);
        row.address = parseIpv4(row.cells[Ip].toLatin1().constData(), false);
        row.open = isDeviceOpen(row.cells[Mac].toLatin1().constData()) != 0;
        added.push_back(std::move(row));
    }
    if (added.empty())
        return 0;

    const int first = count();
    const int n = static_cast<int>(added.size());
    QList<uint32_t> nowShared;
    beginInsertRows({}, first, first + n - 1);
    for (Row& row : added) {
        const int index = count();
        rowOfMac_.insert(row.cells[Mac].left(17), index);
        QList<int>& atAddress = rowsAtAddress_[row.address];
        atAddress.append(index);
        if (atAddress.size() == 2)
            nowShared.append(row.address);
        rows_.push_back(std::move(row));
    }
    endInsertRows();

    for (const uint32_t address : nowShared) {
        markShared(address);
        // The first module there is now known to share its address as well.
        const QModelIndex firstThere = index(rowsAtAddress_.value(address).first(), Ip);
        emit dataChanged(firstThere, firstThere);
    }
    return n;
}

void DeviceRegistry::clear()
{
    beginResetModel();
    rows_.clear();
    rowOfMac_.clear();
    rowsAtAddress_.clear();
    // Held modules keep their own share of a mark.
    marks_.clear();
    endResetModel();
}

QString DeviceRegistry::cell(int row, Column column) const
{
    if (row < 0 || row >= count() || static_cast<int>(column) < 0
        || static_cast<int>(column) >= kListColumns)
        return {};
    const Row& r = rows_[static_cast<size_t>(row)];
    return column == Status ? r.status : r.cells[column];
}

void DeviceRegistry::setStatus(const QString& macText, const QString& text)
{
    const int row = rowOfMac(macText);
    if (row < 0 || rows_[static_cast<size_t>(row)].status == text)
        return;
    rows_[static_cast<size_t>(row)].status = text;
    const QModelIndex changed = index(row, Status);
    emit dataChanged(changed, changed, {Qt::DisplayRole, SortRole});
}

void DeviceRegistry::clearStatus()
{
    for (int row = 0; row < count(); ++row)
        setStatus(rows_[static_cast<size_t>(row)].cells[Mac], QString());
}

QStringList DeviceRegistry::cells(int row) const
{
    QStringList out;
    if (row < 0 || row >= count())
        return out;
    for (const QString& c : rows_[static_cast<size_t>(row)].cells)
        out << c;
    return out;
}

int DeviceRegistry::rowOfMac(const QString& macText) const
{
    return rowOfMac_.value(macText.left(17), -1);
}

int DeviceRegistry::rowOfIp(const QString& ipText) const
{
    for (int i = 0; i < count(); ++i) {
        if (rows_[static_cast<size_t>(i)].cells[Ip] == ipText)
            return i;
    }
    return -1;
}

QStringList DeviceRegistry::macsAt(const QString& ipText) const
{
    QStringList out;
    for (const Row& row : rows_) {
        if (row.cells[Ip] == ipText)
            out << row.cells[Mac].left(17);
    }
    return out;
}

bool DeviceRegistry::addressShared(int row) const
{
    if (row < 0 || row >= count())
        return false;
    return rowsAtAddress_.value(rows_[static_cast<size_t>(row)].address).size() > 1;
}

void DeviceRegistry::markShared(uint32_t address)
{
    if (!net_ || marks_.contains(address))
        return;
    std::shared_ptr<void> mark = net_->markAddressShared(address);
    marks_.insert(address, mark);
    // Whoever refers to a module there keeps the mark beyond this list.
    for (auto it = held_.begin(); it != held_.end();) {
        const std::shared_ptr<Held> held = it->lock();
        if (!held) {
            it = held_.erase(it);
            continue;
        }
        if (held->address == address)
            held->marks.push_back(mark);
        ++it;
    }
}

std::shared_ptr<void> DeviceRegistry::hold(const QString& macText)
{
    auto held = std::make_shared<Held>();
    held->mac = macText.left(17);
    held->net = net_;
    const int row = rowOfMac(held->mac);
    if (row >= 0) {
        held->address = rows_[static_cast<size_t>(row)].address;
        if (const auto mark = marks_.constFind(held->address); mark != marks_.constEnd())
            held->marks.push_back(*mark);
    }
    std::erase_if(held_, [](const std::weak_ptr<Held>& h) { return h.expired(); });
    held_.push_back(held);
    return held;
}

int DeviceRegistry::markDeviceOpen(const char* mac, bool open)
{
    int found = -1;
    for (int i = 0; i < 100; ++i) {
        if (openDeviceMacs_[i][0] && std::strncmp(openDeviceMacs_[i], mac, 17) == 0) {
            found = i;
            break;
        }
    }
    if (open) {
        if (found >= 0)
            return -1;
        for (auto& slot : openDeviceMacs_) {
            if (!slot[0]) {
                std::memset(slot, 0, sizeof slot);
                std::strncpy(slot, mac, 17);
                break;
            }
        }
    } else if (found >= 0) {
        openDeviceMacs_[found][0] = '\0';
    }
    // Every row of that MAC's first 17 characters, as the table compares them.
    updateOpenRows();
    return 0;
}

int DeviceRegistry::isDeviceOpen(const char* mac) const
{
    for (const auto& slot : openDeviceMacs_) {
        if (slot[0] && std::strncmp(slot, mac, 17) == 0)
            return -1;
    }
    return 0;
}

void DeviceRegistry::clearOpenDevices()
{
    std::memset(openDeviceMacs_, 0, sizeof openDeviceMacs_);
    updateOpenRows();
}

void DeviceRegistry::updateOpenRows()
{
    // Opening and closing a window is rare; drawing a row is not.
    for (int i = 0; i < count(); ++i) {
        Row& row = rows_[static_cast<size_t>(i)];
        const bool open = isDeviceOpen(row.cells[Mac].toLatin1().constData()) != 0;
        if (open == row.open)
            continue;
        row.open = open;
        emit dataChanged(index(i, 0), index(i, kListColumns - 1), {OpenRole});
    }
}

int DeviceRegistry::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int DeviceRegistry::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kListColumns;
}

QVariant DeviceRegistry::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count() || index.column() >= kListColumns)
        return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == Status ? row.status : row.cells[index.column()];
    case Qt::ToolTipRole:
        // A failure's message may be longer than the column is wide.
        return index.column() == Status && !row.status.isEmpty() ? QVariant(row.status)
                                                                 : QVariant();
    case MacRole:
        return row.cells[Mac].left(17);
    case OpenRole:
        return row.open;
    case SortRole:
        if (index.column() == Number)
            return index.row() + 1;
        return index.column() == Status ? row.status : row.cells[index.column()];
    default:
        return {};
    }
}

QVariant DeviceRegistry::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= kListColumns)
        return {};
    return section == Status ? QStringLiteral("Status") : captions()[section];
}

} // namespace tvx
