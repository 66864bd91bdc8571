#include "gui/mainwindow.h"

#include "app/application.h"
#include "app/entrycommands.h"
#include "app/servicecommands.h"
#include "app/timeout.h"
#include "app/upgrade.h"
#include "core/daynumber.h"
#include "core/text.h"
#include "gui/configdialog.h"
#include "gui/entrymodel.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"
#include "notify/appnames.h"
#include "platform/files.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

namespace tarnwick::gui {

namespace {

constexpr int k_tickMs = 100;
constexpr int k_activityTicks = 3; // a flow line keeps its arrow lit this many ticks
constexpr const char* k_webSite = "http://www.tarnwick.example/";

QIcon icon(const char* name)
{
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg"));
}

} // namespace

MainWindow::MainWindow(app::AppContext& app, app::StartupState startup, bool autoMode, Dialogs& dialogs)
    : m_app(app), m_dialogs(dialogs), m_state(app, *this, m_flowLog),
      m_logic(m_state, *this, std::move(startup), autoMode)
{
    initResources();
    setWindowIcon(icon("tarnwick"));
    setWindowTitle(fromBytes(m_logic.title()));
    m_details = new SideWindow(QString::fromLatin1("Tarnwick\xAE - Details"), base::setting::DetailsWindow,
                               m_app.settings, this);
    m_flow = new FlowWindow(m_app.settings, this);
    m_details->setWindowIcon(windowIcon());
    m_flow->setWindowIcon(windowIcon());

    m_model = new EntryModel(m_app.entries, this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setFilterKeyColumn(-1);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);

    buildCentral();
    buildMenus();
    buildToolBar();

    m_timer = new QTimer(this);
    m_timer->setInterval(k_tickMs);
    connect(m_timer, &QTimer::timeout, this, [this] { guarded([this] { tick(); }); });

    // flow lines come from worker threads; the window applies them on its own
    m_flowLog.setSubscriber([this](int kind, const std::string& line) {
        QMetaObject::invokeMethod(
            this,
            [this, kind, text = fromBytes(line)] {
                if (kind == net::FlowLog::k_outgoing)
                    m_sendingTicks = k_activityTicks;
                else if (kind == net::FlowLog::k_incoming)
                    m_receivingTicks = k_activityTicks;
                m_flow->appendLine(text);
            },
            Qt::QueuedConnection);
    });
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    m_state.setWaker([dispatcher] { dispatcher->wakeUp(); });
    m_state.setEntryObserver([this](const update::EntryOutcome& outcome) { m_model->rowChanged(outcome.position); });
}

MainWindow::~MainWindow()
{
    m_flowLog.clearSubscriber();
    m_state.setWaker({});
}

void MainWindow::buildCentral()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_banner = new QLabel(central);
    m_banner->setObjectName(QStringLiteral("banner"));
    m_banner->setText(QStringLiteral("<b>Tarnwick</b> &nbsp; trademark status watch"));
    m_banner->setContentsMargins(10, 4, 10, 4);
    m_banner->setAutoFillBackground(true);
    m_banner->setBackgroundRole(QPalette::AlternateBase);
    layout->addWidget(m_banner);

    m_table = new QTableView(central);
    m_table->setModel(m_proxy);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(true);
    m_table->setWordWrap(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setSectionsMovable(false);
    m_table->horizontalHeader()->setSortIndicatorShown(true);
    m_table->horizontalHeader()->setSectionsClickable(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setIconSize(QSize(16, 16));
    layout->addWidget(m_table, 1);
    connect(m_table->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { runCommand(app::columnCommand(app::Command::HeaderColumn, section)); });
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { popup(p); });
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        runCommand(app::columnCommand(app::Command::ChangeColumn, index.column()));
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { refreshActions(); });

    // the progress and time-out panel, shown while busy
    m_panel = new QWidget(central);
    auto* panel = new QHBoxLayout(m_panel);
    panel->setContentsMargins(8, 4, 8, 4);
    m_runGroup = new QWidget(m_panel);
    auto* run = new QHBoxLayout(m_runGroup);
    run->setContentsMargins(0, 0, 0, 0);
    m_runCaption = new QLabel(m_runGroup);
    m_runBar = new QProgressBar(m_runGroup);
    m_runBar->setFormat(QStringLiteral("%v of %m"));
    run->addWidget(m_runCaption);
    run->addWidget(m_runBar, 1);
    panel->addWidget(m_runGroup, 2);
    m_operationGroup = new QWidget(m_panel);
    auto* operation = new QHBoxLayout(m_operationGroup);
    operation->setContentsMargins(0, 0, 0, 0);
    m_statusIcon = new QLabel(m_operationGroup);
    m_statusIcon->setFixedSize(18, 18);
    m_operationBar = new QProgressBar(m_operationGroup);
    m_operationBar->setFormat(QStringLiteral("%v s of %m s"));
    operation->addWidget(m_statusIcon);
    operation->addWidget(m_operationBar, 1);
    panel->addWidget(m_operationGroup, 1);
    m_timeout = new QComboBox(m_panel);
    for (int ms : app::k_timeoutChoices)
        m_timeout->addItem(QString::fromStdString(app::timeoutText(ms)), ms);
    m_timeout->setToolTip(QStringLiteral("Time-out of one network operation"));
    panel->addWidget(m_timeout);
    m_cancel = new QPushButton(QStringLiteral("Cancel (Esc)"), m_panel);
    connect(m_cancel, &QPushButton::clicked, this, [this] { runCommand(app::Command::Cancel); });
    panel->addWidget(m_cancel);
    m_panel->hide();
    m_operationGroup->hide();
    layout->addWidget(m_panel);
    setCentralWidget(central);

    m_counts = new QLabel(this);
    statusBar()->addPermanentWidget(m_counts);
}

QAction* MainWindow::commandAction(app::Command id)
{
    if (auto it = m_actions.find(id); it != m_actions.end())
        return it->second;
    const std::optional<app::CommandInfo> info = app::commandInfo(id);
    auto* a = new QAction(this);
    a->setText(fromBytes(info ? info->text : std::string()));
    if (info && !info->key.empty()) {
        if (id == app::Command::ViewDetails)
            a->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
        else
            a->setShortcut(QKeySequence(QString::fromStdString(info->key)));
        a->setShortcutContext(Qt::WindowShortcut);
    }
    const bool checkable = app::commandFrequency(id) || id == app::Command::Ascending ||
                           id == app::Command::Descending || app::commandColumn(id, app::Command::SortColumn);
    a->setCheckable(checkable);
    connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    addAction(a); // keys work whether or not the menu bar shows the action
    m_actions[id] = a;
    return a;
}

QMenu* MainWindow::buildMenu(QMenu* menu, const std::vector<app::MenuItem>& items, bool popup)
{
    for (const app::MenuItem& item : items) {
        if (item.isSeparator()) {
            menu->addSeparator();
        } else if (item.isSubMenu()) {
            buildMenu(menu->addMenu(fromBytes(item.text)), item.children, popup);
        } else if (app::commandColumn(item.id, app::Command::ChangeColumn)) {
            // the Edit menu's Change items carry the menu caption; the pop-up's own item
            // reads "Change " + the column caption and takes the command's enabling
            QAction* a = commandAction(item.id);
            if (popup) {
                QAction* own = menu->addAction(fromBytes(item.text));
                own->setEnabled(a->isEnabled());
                const app::Command id = item.id;
                connect(own, &QAction::triggered, this, [this, id] { runCommand(id); });
            } else {
                a->setText(fromBytes(item.text));
                menu->addAction(a);
            }
        } else {
            menu->addAction(commandAction(item.id));
        }
    }
    connect(menu, &QMenu::aboutToShow, this, [this] { refreshActions(); });
    return menu;
}

void MainWindow::buildMenus()
{
    for (const app::MenuItem& top : app::mainMenu())
        buildMenu(menuBar()->addMenu(fromBytes(top.text)), top.children, false);
}

void MainWindow::buildToolBar()
{
    QToolBar* bar = addToolBar(QStringLiteral("Commands"));
    bar->setObjectName(QStringLiteral("commands"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const std::pair<app::Command, const char*> buttons[] = {{app::Command::UpdateAll, "Update All"},
                                                            {app::Command::UpdateSelected, "Update Selected"},
                                                            {app::Command::Add, "Add"},
                                                            {app::Command::Delete, "Delete"},
                                                            {app::Command::SendEmail, "Send E-Mail"}};
    for (const auto& [id, text] : buttons) {
        // the same command under a plain label; its enabling follows the menu action's
        QAction* menuAction = commandAction(id);
        auto* a = bar->addAction(QString::fromLatin1(text));
        a->setToolTip(menuAction->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')));
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
        connect(menuAction, &QAction::changed, a, [a, menuAction] { a->setEnabled(menuAction->isEnabled()); });
    }
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    auto* label = new QLabel(QStringLiteral("&Filter: "), bar);
    m_filter = new QLineEdit(bar);
    m_filter->setClearButtonEnabled(true);
    m_filter->setPlaceholderText(QStringLiteral("any visible text"));
    m_filter->setMaximumWidth(240);
    label->setBuddy(m_filter);
    bar->addWidget(label);
    bar->addWidget(m_filter);
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_proxy->setFilterFixedString(text);
        selectionChanged();
    });
}

QAction* MainWindow::action(app::Command id) const
{
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

SideWindow* MainWindow::detailsWindow() const
{
    return m_details;
}

void MainWindow::open()
{
    m_logic.open();
    m_model->change([] {});

    // the saved window rectangle, column widths, order and top row
    const base::AppSettings& s = m_app.settings;
    const long left = s.number(base::setting::Left), top = s.number(base::setting::Top),
               right = s.number(base::setting::Right), bottom = s.number(base::setting::Bottom);
    if (right - left >= 200 && bottom - top >= 150)
        setGeometry(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top));
    else
        resize(1180, 640);
    const int lastUpdateWidth = m_table->fontMetrics().horizontalAdvance(QStringLiteral("Last Update"));
    for (const core::FieldInfo& f : core::fieldTable()) {
        const int width = app::columnWidth(s.value(base::columnWidthSetting(f)), f.widthFactor, lastUpdateWidth);
        m_table->setColumnWidth(static_cast<int>(f.id), std::clamp(width, 0, 4000));
    }
    const app::SortOrder order = m_logic.sortOrder();
    m_table->horizontalHeader()->setSortIndicator(order.column, app::showsAscending(order) ? Qt::AscendingOrder
                                                                                           : Qt::DescendingOrder);
    const long topIndex = s.number(base::setting::TopIndex);
    if (topIndex > 0 && topIndex < m_app.entries.count())
        m_table->scrollTo(m_proxy->mapFromSource(m_model->index(static_cast<int>(topIndex), 0)),
                          QAbstractItemView::PositionAtTop);
    if (m_app.entries.count() > 0)
        m_table->setCurrentIndex(m_proxy->index(0, 0));
    m_details->restore();
    m_flow->restore();
    const int timeoutMs = m_state.operationTimeoutMs();
    int choice = 0;
    for (int i = 0; i < m_timeout->count(); ++i) {
        if (m_timeout->itemData(i).toInt() <= timeoutMs)
            choice = i;
    }
    m_timeout->setCurrentIndex(choice);
    updateStatusBar();
    refreshActions();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    QMetaObject::invokeMethod(
        this, [this] { guarded([this] { m_logic.firstShowing(); }); }, Qt::QueuedConnection);
}

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
        // a double click and a header click reach the column commands without a menu that greys them; the
        // other commands come from actions greyed by the same rules, or are posted by the program itself
        const bool columnCommand =
            app::commandColumn(id, app::Command::ChangeColumn) || app::commandColumn(id, app::Command::SortColumn);
        if (columnCommand && !app::isEnabled(id, commandState()))
            return;
        if (app::commandColumn(id, app::Command::HeaderColumn) && m_logic.busy())
            return;
        execute(id);
    });
}

void MainWindow::execute(app::Command id)
{
    using app::Command;
    const std::vector<int> selection = m_state.selection();
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
    case Command::SelectAll:
        m_table->selectAll();
        break;
    case Command::Add:
        addEntryCommand();
        break;
    case Command::Delete:
        app::deleteEntries(m_state, selection);
        m_model->change([] {});
        selectionChanged();
        break;
    case Command::ClearError:
        app::clearError(m_state, selection);
        for (int row : selection)
            m_model->rowChanged(row);
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
        if (const int row = focusedRow(); row >= 0) {
            const std::string url = m_app.entries.at(row).lookupVariable("StatusUrl").value_or(std::string());
            if (!url.empty())
                QDesktopServices::openUrl(QUrl(fromBytes(url)));
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
        if (const std::optional<std::string> page = app::helpPage(m_state))
            QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(*page)));
        break;
    case Command::WebSite:
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(k_webSite)));
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
    case Command::About:
        aboutBox();
        break;
    default:
        if (const std::optional<core::Frequency> frequency = app::commandFrequency(id)) {
            app::setFrequency(m_state, selection, *frequency);
            for (int row : selection)
                m_model->rowChanged(row);
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
    updateStatusBar();
    refreshActions();
}

void MainWindow::sortBy(int column, app::SortKind kind)
{
    const std::optional<app::SortOrder> next = app::sortRequest(m_logic.sortOrder(), column, kind);
    if (next) {
        m_model->reorder(*next, [&] { m_logic.sort(column, kind); });
        selectionChanged(); // the same entries, at their new positions
    }
    const app::SortOrder order = m_logic.sortOrder();
    m_table->horizontalHeader()->setSortIndicator(order.column, app::showsAscending(order) ? Qt::AscendingOrder
                                                                                           : Qt::DescendingOrder);
    if (const QModelIndex current = m_table->currentIndex(); current.isValid())
        m_table->scrollTo(current);
}

void MainWindow::changeColumnCommand(int column)
{
    const std::vector<int> selection = m_state.selection();
    if (column == static_cast<int>(core::FieldId::Frequency)) {
        // the Frequency sub-menu at the cursor; its item runs the change
        QMenu menu(this);
        buildMenu(&menu, app::frequencyMenu().children, true);
        refreshActions();
        menu.exec(QCursor::pos());
        return;
    }
    app::changeColumn(m_state, column, selection);
    for (int row : selection)
        m_model->rowChanged(row);
    refreshDetails();
}

void MainWindow::addEntryCommand()
{
    const std::optional<TypedEntry> typed = m_dialogs.addEntry(this);
    if (!typed)
        return;
    const int before = m_app.entries.count();
    app::addEntry(m_state, typed->number, typed->reference);
    // the row the add selected (the new entry, or the one that already holds the number) is the one shown
    const std::vector<int> chosen = m_state.selection();
    if (m_app.entries.count() != before)
        m_model->change([] {});
    if (chosen.size() == 1) {
        QModelIndex row = m_proxy->mapFromSource(m_model->index(chosen.front(), 0));
        if (!row.isValid()) {
            m_filter->clear(); // a row the filter hides cannot be shown selected
            row = m_proxy->mapFromSource(m_model->index(chosen.front(), 0));
        }
        m_table->selectionModel()->setCurrentIndex(row,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_table->scrollTo(row);
    }
    if (m_app.entries.count() != before)
        sortBy(m_logic.sortOrder().column, app::SortKind::Reapply);
}

void MainWindow::openPath(const std::string& path)
{
    if (!path.empty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(path)));
}

void MainWindow::popup(const QPoint& pos)
{
    const QModelIndex index = m_table->indexAt(pos);
    if (!index.isValid())
        return;
    if (!m_table->selectionModel()->isSelected(index))
        m_table->selectionModel()->setCurrentIndex(index,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    refreshActions();
    QMenu menu(this);
    buildMenu(&menu, app::popupMenu(index.column()), true);
    menu.exec(m_table->viewport()->mapToGlobal(pos));
}

std::vector<int> MainWindow::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows.push_back(m_proxy->mapToSource(index).row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int MainWindow::focusedRow() const
{
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? m_proxy->mapToSource(current).row() : -1;
}

void MainWindow::selectionChanged()
{
    m_state.setSelection(selectedRows());
    refreshActions();
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
        m_details->view()->setPlainText(fromBytes(app::detailsText(m_app.entries, m_state.selection())));
}

app::CommandState MainWindow::commandState() const
{
    const int focused = focusedRow();
    std::optional<core::Frequency> frequency;
    if (focused >= 0 && focused < m_app.entries.count())
        frequency = m_app.entries.at(focused).Frequency;
    return m_logic.commandState(frequency);
}

void MainWindow::refreshActions()
{
    const app::CommandState state = commandState();
    for (auto& [id, a] : m_actions) {
        a->setEnabled(app::isEnabled(id, state));
        if (a->isCheckable())
            a->setChecked(app::isChecked(id, state));
    }
}

void MainWindow::updateStatusBar()
{
    int due = 0;
    for (const core::Entry& e : m_app.entries.entries())
        due += e.isUpToDate() ? 0 : 1;
    int pending = 0;
    if (const auto list = platform::readFile(m_state.queue().pendingListPath())) {
        for (size_t i = 0; i < list->size();) {
            const size_t end = std::min(list->find('\n', i), list->size());
            if (end > i && !(end - i == 1 && (*list)[i] == '\r'))
                ++pending;
            i = end + 1;
        }
    }
    m_counts->setText(QStringLiteral("%1 entries \u00b7 %2 due \u00b7 %3 e-mail pending \u00b7 today %4")
                          .arg(m_app.entries.count())
                          .arg(due)
                          .arg(pending)
                          .arg(QString::fromStdString(core::formatDay(core::today()))));
}

void MainWindow::aboutBox()
{
    QMessageBox box(this);
    box.setWindowTitle(fromBytes(base::caption("About")));
    box.setIconPixmap(windowIcon().pixmap(48, 48));
    box.setText(QStringLiteral("<b>Tarnwick</b> %1<br>Rules file version %2")
                    .arg(QString::fromStdString(m_logic.version()), fromBytes(m_app.rules.version()).toHtmlEscaped()));
    box.setInformativeText(fromBytes(notify::k_courtesy));
    QPushButton* upgrade = box.addButton(QStringLiteral("Download/Install Upgrade"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() == upgrade)
        postCommand(app::Command::Upgrade);
}

// --- the front-end seam ---

base::Answer MainWindow::messageBox(const base::MessageBox& box)
{
    return m_dialogs.messageBox(this, box);
}

std::optional<std::string> MainWindow::textInput(const std::string& title, const std::string& prompt,
                                                 const std::string& initial)
{
    return m_dialogs.textInput(this, title, prompt, initial);
}

void MainWindow::runStart(const std::string& caption, int range)
{
    m_runCaption->setText(fromBytes(caption));
    m_runBar->setRange(0, std::max(range, 1));
    m_runBar->setValue(0);
    m_runGroup->show();
    m_panel->show();
}

void MainWindow::runPosition(int position)
{
    m_runBar->setValue(std::min(position, m_runBar->maximum()));
}

void MainWindow::runEnd()
{
    m_runGroup->hide();
}

void MainWindow::operationStart(int timeoutSeconds)
{
    m_operationBar->setRange(0, std::max(timeoutSeconds, 1));
    m_operationBar->setValue(0);
    m_statusIcon->setPixmap(icon("net-idle").pixmap(16, 16));
    m_operationGroup->show();
    m_panel->show();
    m_timer->start();
}

void MainWindow::operationEnd()
{
    m_timer->stop();
    m_sendingTicks = m_receivingTicks = 0;
    m_operationGroup->hide();
}

void MainWindow::tick()
{
    // the choice is the window's time-out; a download keeps its own fixed one
    const int choice = m_timeout->currentData().toInt();
    if (choice > 0 && choice != m_state.operationTimeoutMs()) {
        m_logic.setTimeoutChoice(choice);
        m_operationBar->setRange(0, m_state.currentTimeoutMs() / 1000);
    }
    const int elapsed = m_state.operationElapsedMs();
    if (elapsed < m_state.currentTimeoutMs())
        m_operationBar->setValue(elapsed / 1000);
    else
        m_state.checkTimeout();
    m_sendingTicks = std::max(m_sendingTicks - 1, 0);
    m_receivingTicks = std::max(m_receivingTicks - 1, 0);
    const char* name = m_sendingTicks && m_receivingTicks ? "net-both"
                       : m_sendingTicks                   ? "net-sending"
                       : m_receivingTicks                 ? "net-receiving"
                                                          : "net-idle";
    m_statusIcon->setPixmap(icon(name).pixmap(16, 16));
}

void MainWindow::statusLine(const std::string& text)
{
    statusBar()->showMessage(fromBytes(text));
}

void MainWindow::setBusy(bool busy)
{
    m_table->setEnabled(!busy);
    m_panel->setVisible(busy);
    m_banner->setVisible(!busy);
    m_cancel->setVisible(busy);
    m_timeout->setVisible(busy);
    if (!busy) {
        m_runGroup->hide();
        statusBar()->clearMessage();
        m_table->setFocus();
        updateStatusBar();
    }
    refreshActions();
}

void MainWindow::rowChanged(int position)
{
    m_model->rowChanged(position);
}

void MainWindow::dispatch(int maxWaitMs)
{
    // the timer ends the wait when nothing else comes; a finished job wakes it at once
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(std::max(maxWaitMs, 0));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MainWindow::postCommand(app::Command id)
{
    QMetaObject::invokeMethod(
        this, [this, id] { runCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::setTitle(const std::string& title)
{
    setWindowTitle(fromBytes(title));
}

void MainWindow::configurationDialog()
{
    runConfigurationDialog(
        m_app.settings, m_state, [this] { runCommand(app::Command::HelpContents); }, this);
}

void MainWindow::installationCheck(bool reinstall)
{
    const app::InstallationOutcome outcome = app::installationCheck(m_app, m_state, m_logic.programPath(), reinstall);
    m_logic.reinstallDone();
    if (outcome.restart) {
        m_restartProgram = outcome.program;
        destroyWindow();
    } else if (outcome.closeWindow) {
        postCommand(app::Command::Close);
    } else if (outcome.postConfigure) {
        postCommand(app::Command::Configure);
    }
}

std::string MainWindow::newerVersion() const
{
    return app::newerVersion(m_app.rules, m_logic.version());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_destroyed) {
        event->accept();
        return;
    }
    event->ignore();
    guarded([this] {
        if (m_logic.close())
            destroyWindow();
    });
}

void MainWindow::destroyWindow()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    m_flowLog.clearSubscriber();
    m_flow->storeAndFreeze();
    m_details->storeAndFreeze();
    m_flow->hide();
    if (m_logic.startupOk()) {
        app::WindowLayout layout;
        const QRect r = normalGeometry();
        layout.left = r.left();
        layout.top = r.top();
        layout.right = r.left() + r.width();
        layout.bottom = r.top() + r.height();
        const QModelIndex top = m_table->indexAt(QPoint(1, 1));
        layout.topIndex = top.isValid() ? m_proxy->mapToSource(top).row() : 0;
        for (int column = 0; column < core::k_fieldCount; ++column)
            layout.columnWidths[static_cast<size_t>(column)] = m_table->columnWidth(column);
        m_logic.destroy(layout);
    }
    hide();
    m_details->hide();
    QCoreApplication::exit(app::exitcode::Normal);
}

} // namespace tarnwick::gui
