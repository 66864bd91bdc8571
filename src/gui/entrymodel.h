#pragma once

#include "app/sorting.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <vector>

namespace tarnwick::core {
class EntryStore;
struct Entry;
} // namespace tarnwick::core

namespace tarnwick::gui {

// The entry store as a table: one row per entry in store order, one column per
// field of the field table and then the next deadline. Column 0 carries the row
// image and, as its tool tip, the entry's error.
class EntryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EntryModel(core::EntryStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The icon of an entry's row.
    QIcon rowIcon(const core::Entry& entry) const;

    // Reorders the store by `sort`, which gives each new position's old position (none when nothing moved),
    // keeping selections and the current row on their entries.
    template <class Sort> void reorder(Sort&& sort)
    {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        endReorder(sort());
    }
    // The store changed in ways the model cannot follow row by row (added or removed entries).
    template <class Change> void change(Change&& change)
    {
        beginResetModel();
        change();
        endResetModel();
    }
    void rowChanged(int row);

    // The columns: the field table's, then the next deadline (app::k_deadlineColumn).
    static int columns();

signals:
    // The entries moved (each new position's old position; none when nothing moved), before the layout changes.
    void reordered(const std::vector<size_t>& moves);

private:
    void endReorder(const std::vector<size_t>& moves);

    core::EntryStore& m_store;
    std::array<QIcon, 5> m_icons;
};

} // namespace tarnwick::gui
