#pragma once

#include <QSortFilterProxyModel>

namespace tvx {

// The device list as the window shows it: sorted by a column (Number as the
// number it is, so the search's order comes back), and only the rows with a
// cell that contains the filter text, in any case. A row the filter hides
// cannot be selected, so no action reaches a module out of sight.
class DeviceListFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit DeviceListFilter(QObject* parent = nullptr);

    void setFilterText(const QString& text);
    const QString& filterText() const { return filter_; }
    // Whether a row with these cells passes `text`.
    static bool matches(const QStringList& cells, const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString filter_;
};

} // namespace tvx
