#include "gui/deadlineswindow.h"

#include "core/daynumber.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"
#include "gui/windowplacement.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <set>

namespace tarnwick::gui {

namespace {

constexpr int k_rowRole = Qt::UserRole + 1;

// A deadline keeps its place in the selection across a refresh by its number, kind and due day.
QString keyOf(const app::DeadlineRow& row)
{
    return fromBytes(row.number + '\n' + row.kind + '\n' + core::formatDay(row.due));
}

} // namespace

DeadlinesWindow::DeadlinesWindow(base::AppSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_table(new QTableView(this)),
      m_model(new QStandardItemModel(this))
{
    setWindowTitle(QString::fromLatin1(app::k_deadlinesTitle));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 8);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
    resize(1000, 420);
}

void DeadlinesWindow::present()
{
    show();
    raise();
    activateWindow();
}

void DeadlinesWindow::restore()
{
    placeWindow(this, keptRect(m_settings, base::setting::DeadlinesWindow), size());
}

void DeadlinesWindow::storePlace()
{
    if (m_opened)
        keepRect(m_settings, base::setting::DeadlinesWindow, geometry());
}

void DeadlinesWindow::showEvent(QShowEvent* event)
{
    m_opened = true;
    QWidget::showEvent(event);
    emit shown();
}

void DeadlinesWindow::showRows(std::vector<app::DeadlineRow> rows)
{
    std::set<QString> selected;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        const int row = index.data(k_rowRole).toInt();
        if (row >= 0 && row < static_cast<int>(m_rows.size()))
            selected.insert(keyOf(m_rows[row]));
    }
    m_filling = true;
    m_rows = std::move(rows);
    m_table->clearSpans();
    m_model->clear();
    const std::vector<std::string> columns = app::deadlineColumns();
    QStringList captions;
    for (const std::string& c : columns)
        captions << fromBytes(c);
    m_model->setHorizontalHeaderLabels(captions);
    const QPalette palette = m_table->palette();
    QFont bold = m_table->font();
    bold.setBold(true);
    QItemSelection reselect;
    for (const app::DeadlineLine& line : app::deadlineLines(m_rows)) {
        QList<QStandardItem*> items;
        if (line.row < 0) {
            // a band's heading spans the row and cannot be chosen
            auto* heading = new QStandardItem(fromBytes(line.heading));
            heading->setFont(bold);
            heading->setFlags(Qt::ItemIsEnabled);
            heading->setData(-1, k_rowRole);
            heading->setBackground(palette.brush(QPalette::Mid));
            heading->setForeground(palette.brush(QPalette::BrightText));
            items << heading;
            for (size_t c = 1; c < columns.size(); ++c) {
                auto* filler = new QStandardItem();
                filler->setFlags(Qt::ItemIsEnabled);
                filler->setData(-1, k_rowRole);
                items << filler;
            }
            m_model->appendRow(items);
            m_table->setSpan(m_model->rowCount() - 1, 0, 1, static_cast<int>(columns.size()));
            continue;
        }
        const app::DeadlineRow& row = m_rows[line.row];
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            auto* item = new QStandardItem(fromBytes(app::deadlineCell(row, c)));
            item->setData(line.row, k_rowRole);
            if (row.band == app::DeadlineBand::Overdue && c <= 1) {
                item->setFont(bold);
                item->setForeground(QColor(0xb0, 0x1e, 0x1e));
            } else if (row.band == app::DeadlineBand::Information) {
                item->setForeground(palette.brush(QPalette::PlaceholderText));
            }
            if (c == 0 && !row.note.empty())
                item->setToolTip(fromBytes(row.note));
            items << item;
        }
        m_model->appendRow(items);
        if (selected.contains(keyOf(row)))
            reselect.select(m_model->index(m_model->rowCount() - 1, 0),
                            m_model->index(m_model->rowCount() - 1, static_cast<int>(columns.size()) - 1));
    }
    m_table->selectionModel()->select(reselect, QItemSelectionModel::ClearAndSelect);
    m_table->resizeColumnsToContents();
    // the last column (the note) takes the width that is left
    m_table->horizontalHeader()->setSectionResizeMode(static_cast<int>(columns.size()) - 1, QHeaderView::Stretch);
    m_filling = false;
}

void DeadlinesWindow::selectionChanged()
{
    if (m_filling)
        return;
    std::vector<int> chosen;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        const int row = index.data(k_rowRole).toInt();
        if (row >= 0)
            chosen.push_back(row);
    }
    const std::vector<int> positions = app::chosenEntries(m_rows, chosen);
    if (!positions.empty())
        emit entriesChosen(positions);
}

} // namespace tarnwick::gui
