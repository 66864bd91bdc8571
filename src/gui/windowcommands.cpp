// The main window's commands: each command as the window runs it, and what follows
// from it in the list, the actions and the status bar.
#include "gui/mainwindow.h"

#include "app/application.h"
#include "app/docketcommands.h"
#include "app/entrycommands.h"
#include "app/servicecommands.h"
#include "app/undo.h"
#include "app/upgrade.h"
#include "core/daynumber.h"
#include "core/text.h"
#include "gui/aboutbox.h"
#include "gui/commandactions.h"
#include "gui/configdialog.h"
#include "gui/deadlineswindow.h"
#include "gui/entrylist.h"
#include "gui/entrymodel.h"
#include "gui/messagepreviewdialog.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QUrl>

#include <cstdlib>

namespace tarnwick::gui {

namespace {

constexpr const char* k_webSite = "http://www.tarnwick.example/";

} // namespace

void MainWindow::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        const std::string text = app::unhandledMessage(std::current_exception());
        m_state.setAutoMode(false);
        m_dialogs.unhandledError(this, text);
        std::_Exit(app::exitcode::Unhandled);
    }
}

void MainWindow::runCommand(app::Command id)
{
    guarded([this, id] {
        // the wait of a running operation handles events, so any command can arrive while it runs
        if (app::commandAllowed(id, commandState()))
            execute(id);
    });
}

void MainWindow::execute(app::Command id)
{
    using app::Command;
    const std::vector<int> selection = m_state.selection();
    m_outcome->clear();
    switch (id) {
    case Command::SendEmail:
        m_logic.sendEmail();
        break;
    case Command::DeleteEmail:
        m_logic.deleteEmail();
        break;
    case Command::Exit:
    case Command::Close:
        close();
        break;
    case Command::ImportSpreadsheet:
        importCommand();
        break;
    case Command::ExportSpreadsheet:
        if (const auto path =
                chooseDocketFile("Export CSV", app::k_spreadsheetFileName, "CSV files (*.csv);;All files (*)", true))
            app::exportSpreadsheetCommand(m_state, *path);
        break;
    case Command::ExportCalendar:
        if (const auto path = chooseDocketFile("Export Calendar", app::k_calendarFileName,
                                               "iCalendar files (*.ics);;All files (*)", true))
            app::exportCalendarCommand(m_state, *path);
        break;
    case Command::SelectAll:
        m_list->selectAll();
        break;
    case Command::Add:
        addEntryCommand();
        break;
    case Command::Delete:
        app::deleteEntries(m_state, selection);
        model()->change([] {});
        selectionChanged();
        break;
    case Command::ClearError:
        app::clearError(m_state, selection);
        break;
    case Command::Undo:
        undoCommand();
        break;
    case Command::UpdateSelected:
        m_logic.runUpdate(update::Scope::Selected);
        break;
    case Command::UpdateAll:
        m_logic.runUpdate(update::Scope::All);
        break;
    case Command::Cancel:
        m_state.cancel(base::RunState::Cancelled);
        break;
    case Command::Ascending:
        sortBy(m_logic.sortOrder().column, app::SortKind::Ascending);
        break;
    case Command::Descending:
        sortBy(m_logic.sortOrder().column, app::SortKind::Descending);
        break;
    case Command::ViewWebpage:
        if (const int row = m_list->focusedPosition(); row >= 0) {
            const std::string url = m_app.entries.at(row).lookupVariable("StatusUrl").value_or(std::string());
            if (!url.empty() && !QDesktopServices::openUrl(QUrl(fromBytes(url))))
                app::browserNotStarted(m_state, url, "View Webpage");
        }
        break;
    case Command::ViewDetails:
        m_details->present();
        refreshDetails();
        break;
    case Command::ViewReport:
        openPath(m_logic.writeReports());
        break;
    case Command::ViewLogFile:
        openPath(m_app.log.path());
        break;
    case Command::ViewFlow:
        m_flow->present();
        break;
    case Command::ViewDeadlines:
        m_deadlines->present();
        break;
    case Command::Configure:
        m_logic.configure();
        break;
    case Command::TestReturnAddress:
        m_logic.testEmail(notify::MailMode::ReturnAddress);
        break;
    case Command::TestNotifyAddresses:
        m_logic.testEmail(notify::MailMode::NotifyAddresses);
        break;
    case Command::HelpContents:
        if (const std::optional<std::string> page = app::helpPage(m_state);
            page && !QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(*page))))
            app::browserNotStarted(m_state, *page, "Help");
        break;
    case Command::WebSite:
        if (!QDesktopServices::openUrl(QUrl(QString::fromLatin1(k_webSite))))
            app::browserNotStarted(m_state, k_webSite, "Web Site");
        break;
    case Command::Upgrade: {
        const app::UpgradeOutcome outcome = m_logic.upgrade();
        if (outcome.kind == app::UpgradeOutcome::Kind::Downloaded) {
            m_restartProgram = outcome.program;
            destroyWindow();
        }
        break;
    }
    case Command::ReportProblem: {
        MessagePreviewDialog preview(this);
        m_logic.reportProblem(preview);
        break;
    }
    case Command::About: {
        AboutBox box(m_logic.version(), m_app.rules.version(), this);
        box.exec();
        if (box.upgradeChosen())
            postCommand(Command::Upgrade);
        break;
    }
    default:
        if (const std::optional<core::Frequency> frequency = app::commandFrequency(id)) {
            app::setFrequency(m_state, selection, *frequency);
            sortBy(m_logic.sortOrder().column, app::SortKind::Reapply);
        } else if (const std::optional<int> change = app::commandColumn(id, Command::ChangeColumn)) {
            changeColumnCommand(*change);
        } else if (const std::optional<int> sort = app::commandColumn(id, Command::SortColumn)) {
            sortBy(*sort, app::SortKind::Column);
        } else if (const std::optional<int> header = app::commandColumn(id, Command::HeaderColumn)) {
            if (*header < core::k_fieldCount)
                sortBy(*header, app::SortKind::HeaderClick);
        }
        break;
    }
    // the line a command ends with (a file written, an undo) stays when a menu's passing messages have gone
    if (!m_state.busy() && !statusBar()->currentMessage().isEmpty()) {
        m_outcome->setText(statusBar()->currentMessage());
        statusBar()->clearMessage();
    }
    updateStatusBar();
    refreshActions();
}

void MainWindow::sortBy(int column, app::SortKind kind)
{
    const std::optional<app::SortOrder> next = app::sortRequest(m_logic.sortOrder(), column, kind);
    if (next) {
        model()->reorder([&] {
            m_logic.sort(column, kind);
            return m_logic.lastMoves();
        });
        selectionChanged(); // the same entries, at their new positions
    }
    m_list->showSortOrder(m_logic.sortOrder());
    if (const QModelIndex current = m_list->currentIndex(); current.isValid())
        m_list->scrollTo(current);
}

void MainWindow::changeColumnCommand(int column)
{
    if (column == static_cast<int>(core::FieldId::Frequency)) {
        // the Frequency sub-menu at the cursor; its item runs the change
        QMenu menu(this);
        m_actions->buildMenu(&menu, app::frequencyMenu().children, true);
        refreshActions();
        menu.exec(QCursor::pos());
        return;
    }
    app::changeColumn(m_state, column, m_state.selection());
    refreshDetails();
}

void MainWindow::entriesAdded(const std::vector<int>& chosen)
{
    model()->change([] {});
    m_list->selectPositions(chosen);
    sortBy(m_logic.sortOrder().column, app::SortKind::Reapply);
}

void MainWindow::addEntryCommand()
{
    const std::optional<TypedEntry> typed = m_dialogs.addEntry(this);
    if (!typed)
        return;
    const app::AddOutcome outcome = app::addEntry(m_state, typed->number, typed->reference);
    // the row the add selected (the new entry, or the one that already holds the number) is the one shown
    if (outcome.position)
        entriesAdded(m_state.selection());
    else
        m_list->selectPositions(m_state.selection());
}

void MainWindow::undoCommand()
{
    const app::UndoOutcome outcome = app::undoLastEdit(m_state);
    if (!outcome.undone)
        return;
    // restored entries are rows the model has not seen
    model()->change([] {});
    m_list->selectPositions(outcome.positions);
    // a restored entry or frequency takes its place in the current order
    sortBy(m_logic.sortOrder().column, app::SortKind::Reapply);
    refreshDetails();
}

std::optional<std::string> MainWindow::chooseDocketFile(const char* title, const char* fileName, const char* filter,
                                                        bool save)
{
    return m_dialogs.chooseFile(this, {title, app::suggestedPath(m_app, fileName), filter, save});
}

void MainWindow::importCommand()
{
    const std::optional<std::string> path =
        chooseDocketFile("Import CSV", app::k_spreadsheetFileName, "CSV files (*.csv);;All files (*)", false);
    if (!path)
        return;
    const app::ImportOutcome outcome = app::importSpreadsheetCommand(m_state, *path);
    if (!outcome.added.empty())
        entriesAdded(outcome.added);
}

void MainWindow::openPath(const std::string& path)
{
    if (!path.empty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(path))))
        app::browserNotStarted(m_state, path, "Open");
}

void MainWindow::popup(const QPoint& pos)
{
    const QModelIndex index = m_list->indexAt(pos);
    if (!index.isValid())
        return;
    if (!m_list->selectionModel()->isSelected(index))
        m_list->selectionModel()->setCurrentIndex(index,
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    refreshActions();
    QMenu menu(this);
    m_actions->buildMenu(&menu, app::popupMenu(index.column()), true);
    menu.exec(m_list->viewport()->mapToGlobal(pos));
}

void MainWindow::selectionChanged()
{
    m_state.setSelection(m_list->selectedPositions());
    refreshActions();
    scheduleDetails();
}

void MainWindow::scheduleDetails()
{
    // at most one refresh of the details window waits at a time
    if (m_details->isVisible() && !m_detailsQueued) {
        m_detailsQueued = true;
        QMetaObject::invokeMethod(
            this, [this] { guarded([this] { refreshDetails(); }); }, Qt::QueuedConnection);
    }
}

void MainWindow::refreshDetails()
{
    m_detailsQueued = false;
    if (m_details->isVisible())
        m_details->view()->setPlainText(
            fromBytes(app::detailsText(m_app, m_state.selection(), &m_state.historyLines())));
}

app::CommandState MainWindow::commandState() const
{
    const int focused = m_list->focusedPosition();
    std::optional<core::Frequency> frequency;
    if (focused >= 0 && focused < m_app.entries.count())
        frequency = m_app.entries.at(focused).Frequency;
    app::CommandState state = m_logic.commandState(frequency);
    state.canUndo = !m_state.undo().empty();
    return state;
}

void MainWindow::refreshActions()
{
    m_actions->refresh(commandState());
}

void MainWindow::updateStatusBar()
{
    const app::MainWindowLogic::Counts counts = m_logic.counts();
    m_counts->setText(QStringLiteral("%1 \u00b7 %2 due \u00b7 %3 e-mail pending \u00b7 today %4")
                          .arg(fromBytes(core::counted(counts.entries, "entry", "entries")))
                          .arg(counts.due)
                          .arg(counts.pending)
                          .arg(QString::fromStdString(core::formatDay(core::today()))));
}

} // namespace tarnwick::gui
