#pragma once

#include "app/mainwindowlogic.h"
#include "app/sorting.h"

#include <QTableView>

#include <vector>

class QLineEdit;
class QSortFilterProxyModel;

namespace tarnwick::base {
class AppSettings;
}
namespace tarnwick::core {
class EntryStore;
}

namespace tarnwick::gui {

class EntryModel;

// The entry list: the entries as rows (EntryModel) through the filter, with their
// column widths, sort indicator and selection. Positions are the store's, whatever
// the filter hides.
class EntryList final : public QTableView {
    Q_OBJECT
public:
    EntryList(core::EntryStore& store, QWidget* parent = nullptr);

    EntryModel* entries() const { return m_model; }
    // The store's positions of the selected rows, in store order, and of the row with the focus (-1 for none).
    std::vector<int> selectedPositions() const;
    int focusedPosition() const;
    // Selects the rows at `positions` and moves the focus to the first; a filter that hides one is cleared.
    void selectPositions(const std::vector<int>& positions);
    // The filter box: only the rows that hold its text in any column are shown; Enter or Down in it moves into
    // the rows.
    void attachFilter(QLineEdit* edit);

    // The saved column widths (their settings, else from the font), the sort indicator and the top row.
    void restoreLayout(const base::AppSettings& settings, app::SortOrder order, long topIndex);
    // The top row and the column widths, as the window stores them when it goes.
    void captureLayout(app::WindowLayout& layout) const;
    void showSortOrder(app::SortOrder order);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

signals:
    // The filter's text changed (the rows it hides are no longer selected).
    void filterChanged();

private:
    // The focus moves from the filter box into the rows found, onto a selected row.
    void enterRows();

    core::EntryStore& m_store;
    EntryModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QLineEdit* m_filter = nullptr;
};

} // namespace tarnwick::gui
