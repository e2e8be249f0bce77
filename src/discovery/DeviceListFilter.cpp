#include "discovery/DeviceListFilter.h"

#include "discovery/DeviceRegistry.h"

namespace tvx {

DeviceListFilter::DeviceListFilter(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(DeviceRegistry::SortRole);
    setDynamicSortFilter(true);
}

void DeviceListFilter::setFilterText(const QString& text)
{
    const QString wanted = text.trimmed();
    if (wanted == filter_)
        return;
    filter_ = wanted;
    invalidateFilter();
}

bool DeviceListFilter::matches(const QStringList& cells, const QString& text)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return true;
    for (const QString& cell : cells) {
        if (cell.contains(wanted, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool DeviceListFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (filter_.isEmpty() || sourceParent.isValid())
        return true;
    const auto* registry = qobject_cast<const DeviceRegistry*>(sourceModel());
    return !registry || matches(registry->cells(sourceRow), filter_);
}

} // namespace tvx
