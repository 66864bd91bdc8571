#include "gui/entrylist.h"

#include "app/docketcommands.h"
#include "app/entryrow.h"
#include "base/settings.h"
#include "core/daynumber.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "gui/entrymodel.h"
#include "gui/textconv.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSortFilterProxyModel>
#include <QStyleOptionHeader>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <vector>

namespace tarnwick::gui {

namespace {

// The rows whose cells hold the filter box's text, as app::RowFilter decides it.
class EntryFilter final : public QSortFilterProxyModel {
public:
    EntryFilter(const core::EntryStore& store, QObject* parent) : QSortFilterProxyModel(parent), m_store(store) {}

    void setText(const QString& text)
    {
        const core::DayNumber today = core::today();
        m_texts.setDay(today);
        app::RowFilter next(text.toUtf8().toStdString());
        // a text typed on looks only at the rows shown; not on a new day, when the rows' deadlines are counted anew
        // and a row hidden before may hold the text
        m_narrowing =
            next.narrows(m_filter) && m_shownDay == today && m_shown.size() == static_cast<size_t>(m_store.count());
        m_shownDay = today;
        m_filter = std::move(next);
        if (!m_narrowing)
            m_shown.assign(static_cast<size_t>(m_store.count()), 1);
        // the rows found anew in one go: removing the hidden ones range by range costs the view a pass over
        // every row for each range
        invalidate();
        m_narrowing = false;
    }

    // Follows the rows' texts as `source` changes them; connected before the filter follows the source.
    void follow(EntryModel* source)
    {
        auto forget = [this] {
            m_texts.forget();
            m_shown.clear();
            warmSoon();
        };
        m_warm.setSingleShot(true);
        connect(&m_warm, &QTimer::timeout, this, [this] { warmUp(); });
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, forget);
        connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this, forget);
        connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, forget);
        // a sort moves the texts with their rows
        connect(source, &EntryModel::reordered, this, [this](const std::vector<size_t>& moves) {
            m_texts.reorder(moves);
            warmSoon();
        });
        connect(source, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
            for (int row = from.row(); row <= to.row(); ++row)
                m_texts.forgetRow(static_cast<size_t>(row));
            warmSoon();
        });
        setSourceModel(source);
    }

    // The list has been painted: the rows' texts may be made from now on.
    void painted()
    {
        if (!m_painted) {
            m_painted = true;
            warmSoon();
        }
    }

    // The row icon's words: its tooltip and description, and the start of its cell's name for a screen reader.
    QVariant data(const QModelIndex& index, int role) const override
    {
        const bool words =
            role == Qt::ToolTipRole || role == Qt::AccessibleTextRole || role == Qt::AccessibleDescriptionRole;
        if (!words || index.column() != 0)
            return QSortFilterProxyModel::data(index, role);
        const int row = mapToSource(index).row();
        if (row < 0 || row >= m_store.count())
            return {};
        const QString state = fromBytes(app::rowMarkText(m_store.at(row)));
        if (role != Qt::AccessibleTextRole)
            return state;
        return state + QStringLiteral(", ") + QSortFilterProxyModel::data(index, Qt::DisplayRole).toString();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_filter.empty() || parent.isValid() || row >= m_store.count())
            return true;
        const auto at = static_cast<size_t>(row);
        if (m_narrowing && at < m_shown.size() && !m_shown[at])
            return false;
        const bool shown = m_filter.matches(rowText(at));
        if (at < m_shown.size())
            m_shown[at] = shown ? 1 : 0;
        return shown;
    }

private:
    const app::RowFilter::Folded& rowText(size_t at) const { return m_texts.of(m_store.entries(), at); }

    // The rows' texts made a few thousand at a time while the window idles, so that the first key finds them; the
    // list's first paint goes first.
    void warmSoon()
    {
        if (m_painted && m_texts.madeFromStart() < static_cast<size_t>(m_store.count()))
            m_warm.start(k_warmAfterMs);
    }
    void warmUp()
    {
        m_texts.setDay(core::today());
        const size_t count = static_cast<size_t>(m_store.count());
        for (size_t at = m_texts.madeFromStart(), end = std::min(count, at + 4000); at < end; ++at)
            (void)rowText(at);
        if (m_texts.madeFromStart() < count)
            m_warm.start(0);
    }

    static constexpr int k_warmAfterMs = 100;

    const core::EntryStore& m_store;
    app::RowFilter m_filter{""};
    QTimer m_warm;
    bool m_painted = false;
    // each row's folded text, made when a filter first looks at it; and whether the last filter showed it
    mutable app::RowTexts m_texts;
    mutable std::vector<char> m_shown;
    core::DayNumber m_shownDay = 0;
    bool m_narrowing = false;
};

// The header's sort arrow points up for an ascending column and down for a descending
// one, whatever the style's own habit (Fusion draws ascending down, Windows up).
class SortArrowStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
            element == PE_IndicatorHeaderArrow && header) {
            // the header marks Qt::AscendingOrder as SortDown
            const bool ascending = header->sortIndicator == QStyleOptionHeader::SortDown;
            QProxyStyle::drawPrimitive(ascending ? PE_IndicatorArrowUp : PE_IndicatorArrowDown, option, painter,
                                       widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

} // namespace

EntryList::EntryList(core::EntryStore& store, QWidget* parent)
    : QTableView(parent), m_store(store), m_model(new EntryModel(store, this)), m_proxy(new EntryFilter(store, this))
{
    static_cast<EntryFilter*>(m_proxy)->follow(m_model);
    setModel(m_proxy);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setShowGrid(true);
    setWordWrap(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsMovable(false);
    auto* arrows = new SortArrowStyle;
    arrows->setParent(horizontalHeader());
    horizontalHeader()->setStyle(arrows);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    setIconSize(QSize(16, 16));
}

std::vector<int> EntryList::selectedPositions() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(m_proxy->mapToSource(index).row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int EntryList::focusedPosition() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_proxy->mapToSource(current).row() : -1;
}

void EntryList::selectPositions(const std::vector<int>& positions)
{
    auto rowOf = [&](int position) { return m_proxy->mapFromSource(m_model->index(position, 0)); };
    // a row the filter hides cannot be shown selected
    if (m_filter && std::any_of(positions.begin(), positions.end(), [&](int p) { return !rowOf(p).isValid(); }))
        m_filter->clear();
    QItemSelection selection;
    for (int p : positions)
        selection.select(rowOf(p), rowOf(p));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!positions.empty()) {
        selectionModel()->setCurrentIndex(rowOf(positions.front()), QItemSelectionModel::NoUpdate);
        scrollTo(rowOf(positions.front()));
    }
}

void EntryList::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    static_cast<EntryFilter*>(m_proxy)->painted();
}

void EntryList::attachFilter(QLineEdit* edit)
{
    m_filter = edit;
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        static_cast<EntryFilter*>(m_proxy)->setText(text);
        emit filterChanged();
    });
}

bool EntryList::eventFilter(QObject* watched, QEvent* event)
{
    // Enter or Down in the filter box goes on into the rows it found; the window's Enter (View Details) waits
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched != m_filter || !key)
        return QTableView::eventFilter(watched, event);
    const auto* press = static_cast<QKeyEvent*>(event);
    const int pressed = press->key();
    const bool intoList = pressed == Qt::Key_Return || pressed == Qt::Key_Enter || pressed == Qt::Key_Down;
    if (!intoList || (press->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return QTableView::eventFilter(watched, event);
    event->accept();
    if (event->type() == QEvent::ShortcutOverride)
        return true;
    enterRows();
    return true;
}

void EntryList::enterRows()
{
    if (m_proxy->rowCount() == 0)
        return;
    setFocus(Qt::TabFocusReason);
    // the row with the focus when the filter kept it, else the first found
    if (!currentIndex().isValid() || !selectionModel()->isSelected(currentIndex()))
        selectionModel()->setCurrentIndex(m_proxy->index(0, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(currentIndex());
}

void EntryList::restoreLayout(const base::AppSettings& settings, app::SortOrder order, long topIndex)
{
    const int lastUpdateWidth = fontMetrics().horizontalAdvance(QStringLiteral("Last Update"));
    for (const core::FieldInfo& f : core::fieldTable()) {
        const int width = app::columnWidth(settings.value(base::columnWidthSetting(f)), f.widthFactor, lastUpdateWidth);
        setColumnWidth(static_cast<int>(f.id), std::clamp(width, 0, 4000));
    }
    const int deadlineWidth = app::columnWidth(settings.value(base::setting::ColWidthNextDeadline),
                                               app::k_deadlineWidthFactor, lastUpdateWidth);
    setColumnWidth(app::k_deadlineColumn, std::clamp(deadlineWidth, 0, 4000));
    showSortOrder(order);
    if (topIndex > 0 && topIndex < m_store.count())
        scrollTo(m_proxy->mapFromSource(m_model->index(static_cast<int>(topIndex), 0)), PositionAtTop);
    if (m_store.count() > 0)
        setCurrentIndex(m_proxy->index(0, 0));
}

void EntryList::captureLayout(app::WindowLayout& layout) const
{
    const QModelIndex top = indexAt(QPoint(1, 1));
    layout.topIndex = top.isValid() ? m_proxy->mapToSource(top).row() : 0;
    for (int column = 0; column < core::k_fieldCount; ++column)
        layout.columnWidths[static_cast<size_t>(column)] = columnWidth(column);
    layout.deadlineWidth = columnWidth(app::k_deadlineColumn);
}

void EntryList::showSortOrder(app::SortOrder order)
{
    horizontalHeader()->setSortIndicator(order.column,
                                         app::showsAscending(order) ? Qt::AscendingOrder : Qt::DescendingOrder);
}

} // namespace tarnwick::gui
