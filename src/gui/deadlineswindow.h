#pragma once

#include "app/deadlinelist.h"

#include <QWidget>

#include <vector>

class QStandardItemModel;
class QTableView;

namespace tarnwick::base {
class AppSettings;
}

namespace tarnwick::gui {

// View > Deadlines: every open deadline of the docket in one table, a heading row above each band (overdue, the
// next 30 days, later, information). Choosing a deadline chooses the entries it comes from in the main list.
class DeadlinesWindow final : public QWidget {
    Q_OBJECT
public:
    // Its rectangle is kept in `settings`.
    explicit DeadlinesWindow(base::AppSettings& settings, QWidget* parent = nullptr);

    // The table shows `rows`; the deadline selected before stays selected when it is still there.
    void showRows(std::vector<app::DeadlineRow> rows);
    void present();
    // Where it was last time; it opens there when asked for (it does not open by itself: its rows cost a look
    // at every entry).
    void restore();
    // Where it is, when it has been open, into the settings.
    void storePlace();

    QTableView* table() const { return m_table; }
    QStandardItemModel* model() const { return m_model; }

signals:
    // The user chose deadlines: the store's positions of their entries.
    void entriesChosen(const std::vector<int>& positions);
    // The window has been shown (its rows may be out of date).
    void shown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void selectionChanged();

    base::AppSettings& m_settings;
    bool m_opened = false;
    QTableView* m_table;
    QStandardItemModel* m_model;
    std::vector<app::DeadlineRow> m_rows;
    bool m_filling = false;
};

} // namespace tarnwick::gui
