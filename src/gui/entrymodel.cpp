#include "gui/entrymodel.h"

#include "app/docketcommands.h"
#include "app/entryrow.h"
#include "core/daynumber.h"
#include "core/entrystore.h"
#include "gui/textconv.h"

#include <algorithm>
#include <numeric>

namespace tarnwick::gui {

namespace {

enum RowIcon { UpToDate, Recent, Error, Due, Never };

} // namespace

EntryModel::EntryModel(core::EntryStore& store, QObject* parent) : QAbstractTableModel(parent), m_store(store)
{
    initResources();
    m_icons = {QIcon(QStringLiteral(":/icons/uptodate.svg")), QIcon(QStringLiteral(":/icons/recent.svg")),
               QIcon(QStringLiteral(":/icons/error.svg")), QIcon(QStringLiteral(":/icons/due.svg")),
               QIcon(QStringLiteral(":/icons/never.svg"))};
}

int EntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_store.count();
}

int EntryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns();
}

int EntryModel::columns()
{
    return app::k_deadlineColumn + 1;
}

QIcon EntryModel::rowIcon(const core::Entry& entry) const
{
    switch (app::rowMark(entry)) {
    case app::RowMark::Failing:
        return m_icons[Error];
    case app::RowMark::NeverUpdated:
        return m_icons[Never];
    case app::RowMark::Changed:
        return m_icons[Recent];
    case app::RowMark::UpToDate:
        return m_icons[UpToDate];
    case app::RowMark::Due:
        break;
    }
    return m_icons[Due];
}

QVariant EntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_store.count())
        return {};
    const core::Entry& entry = m_store.at(index.row());
    const auto field = static_cast<core::FieldId>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == app::k_deadlineColumn)
            return fromBytes(app::deadlineCellText(entry, core::today()));
        return fromBytes(entry.valueText(field, false));
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(rowIcon(entry)) : QVariant();
    case Qt::ToolTipRole:
        if (index.column() == 0 && !entry.Error.empty())
            return fromBytes(entry.Error);
        return {};
    default:
        return {};
    }
}

QVariant EntryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns())
        return {};
    if (section == app::k_deadlineColumn)
        return role == Qt::DisplayRole ? QVariant(QString::fromLatin1(app::k_deadlineCaption)) : QVariant();
    if (role == Qt::DisplayRole)
        return fromBytes(core::fieldInfo(static_cast<core::FieldId>(section)).columnCaption);
    if (role == Qt::InitialSortOrderRole)
        return core::fieldInfo(static_cast<core::FieldId>(section)).defaultDescending ? Qt::DescendingOrder
                                                                                      : Qt::AscendingOrder;
    return {};
}

void EntryModel::rowChanged(int row)
{
    if (row < 0 || row >= m_store.count())
        return;
    emit dataChanged(index(row, 0), index(row, columns() - 1));
}

void EntryModel::endReorder(const std::vector<size_t>& moves)
{
    if (moves.size() == static_cast<size_t>(m_store.count())) {
        std::vector<int> newRow(moves.size());
        for (size_t to = 0; to < moves.size(); ++to)
            newRow[moves[to]] = static_cast<int>(to);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& i : before)
            after.append(index(newRow[static_cast<size_t>(i.row())], i.column()));
        changePersistentIndexList(before, after);
    }
    emit reordered(moves);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tarnwick::gui
