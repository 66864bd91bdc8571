#include "gui/mainwindow.h"

#include "app/application.h"
#include "app/deadlinelist.h"
#include "app/upgrade.h"
#include "gui/commandactions.h"
#include "gui/configdialog.h"
#include "gui/deadlineswindow.h"
#include "gui/desktopnotice.h"
#include "gui/entrylist.h"
#include "gui/entrymodel.h"
#include "gui/runpanel.h"
#include "gui/sidewindows.h"
#include "gui/textconv.h"
#include "gui/windowplacement.h"
#include "platform/instancelock.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnwick::gui {

MainWindow::MainWindow(app::AppContext& app, app::StartupState startup, bool autoMode, Dialogs& dialogs)
    : m_app(app), m_dialogs(dialogs), m_frontEnd(*this, dialogs), m_state(app, m_frontEnd, m_flowLog),
      m_logic(m_state, *this, std::move(startup), autoMode)
{
    initResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.svg")));
    setWindowTitle(fromBytes(m_logic.title()));
    m_details = new SideWindow(QString::fromLatin1("Tarnwick\xAE - Details"), base::setting::DetailsWindow,
                               m_app.settings, this);
    m_flow = new FlowWindow(m_app.settings, this);
    m_details->setWindowIcon(windowIcon());
    connect(m_details, &SideWindow::shown, this, [this] { scheduleDetails(); });
    m_flow->setWindowIcon(windowIcon());
    m_deadlines = new DeadlinesWindow(m_app.settings, this);
    m_deadlines->setWindowIcon(windowIcon());
    connect(m_deadlines, &DeadlinesWindow::shown, this, [this] { scheduleDeadlines(); });

    m_actions = new CommandActions(
        this, [this](app::Command id) { runCommand(id); }, [this] { refreshActions(); });
    buildCentral();
    m_frontEnd.attach(*m_panel, {[this](bool busy) { busyChanged(busy); }, [this](int row) { rowChanged(row); }});
    m_actions->buildMenuBar(menuBar());
    followDeadlines();
    buildToolBar();

    // flow lines come from worker threads; the window applies them on its own
    m_flowLog.setSubscriber([this](int kind, const std::string& line) {
        QMetaObject::invokeMethod(
            this,
            [this, kind, text = fromBytes(line)] {
                if (kind == net::FlowLog::k_outgoing || kind == net::FlowLog::k_incoming)
                    m_panel->noteActivity(kind == net::FlowLog::k_outgoing);
                m_flow->appendLine(text);
            },
            Qt::QueuedConnection);
    });
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    m_state.setWaker([dispatcher] { dispatcher->wakeUp(); });
    m_state.setEntryObserver([this](const update::EntryOutcome& outcome) { rowChanged(outcome.position); });
    // the notice goes when the entries are done, not after a closing box that waits for someone to come back
    m_state.setRunEndObserver([this](const update::RunSummary& summary) { notifyChanges(summary); });
    // an edit's data file is written off this thread; a failure is told here once the write ends
    m_state.setBackgroundSave([this] {
        QMetaObject::invokeMethod(
            this, [this] { m_state.reportBackgroundSave(); }, Qt::QueuedConnection);
    });
}

MainWindow::~MainWindow()
{
    delete m_frontNotifier; // before the socket it watches closes
    m_flowLog.clearSubscriber();
    m_state.setWaker({});
    // the edit written last is on the disk before the window goes
    m_state.finishBackgroundSave();
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

    m_list = new EntryList(m_app.entries, central);
    layout->addWidget(m_list, 1);
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { runCommand(app::columnCommand(app::Command::HeaderColumn, section)); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { popup(p); });
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        runCommand(app::columnCommand(app::Command::ChangeColumn, index.column()));
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { refreshActions(); });
    connect(m_list, &EntryList::filterChanged, this, [this] { selectionChanged(); });
    // any change of the store (a run, an edit, a sort that moves the entries) can change the deadlines' rows
    QAbstractItemModel* entries = m_list->entries();
    connect(entries, &QAbstractItemModel::modelReset, this, [this] { scheduleDeadlines(); });
    connect(entries, &QAbstractItemModel::layoutChanged, this, [this] { scheduleDeadlines(); });
    connect(entries, &QAbstractItemModel::dataChanged, this, [this] { scheduleDeadlines(); });

    m_panel = new RunPanel(
        m_logic, [this](const std::function<void()>& handler) { guarded(handler); },
        [this] { runCommand(app::Command::Cancel); }, central);
    layout->addWidget(m_panel);
    setCentralWidget(central);

    m_outcome = new QLabel(this);
    m_outcome->setObjectName(QStringLiteral("outcome"));
    statusBar()->addWidget(m_outcome, 1);
    m_counts = new QLabel(this);
    statusBar()->addPermanentWidget(m_counts);
}

void MainWindow::followDeadlines()
{
    // a run holds the list; a deadline chosen meanwhile leaves the selection as it is
    connect(m_deadlines, &DeadlinesWindow::entriesChosen, this, [this](const std::vector<int>& positions) {
        if (!m_state.busy())
            m_list->selectPositions(positions);
    });
}

void MainWindow::scheduleDeadlines()
{
    if (m_deadlines->isVisible() && !m_deadlinesQueued) {
        m_deadlinesQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                guarded([this] {
                    m_deadlinesQueued = false;
                    if (m_deadlines->isVisible())
                        m_deadlines->showRows(app::deadlineList(m_app.entries.entries(), core::today()));
                });
            },
            Qt::QueuedConnection);
    }
}

void MainWindow::buildToolBar()
{
    QToolBar* bar = addToolBar(QStringLiteral("Commands"));
    bar->setObjectName(QStringLiteral("commands"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_actions->buildToolBar(bar);
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    // Ctrl+F, not a mnemonic: the Alt keys belong to the menus
    auto* label = new QLabel(QStringLiteral("Filter: "), bar);
    m_filter = new QLineEdit(bar);
    m_filter->setClearButtonEnabled(true);
    m_filter->setPlaceholderText(QStringLiteral("number, name, any text (Ctrl+F)"));
    m_filter->setToolTip(QStringLiteral("Shows the entries that hold this text in any column; a number matches "
                                        "with or without its dash (Ctrl+F)"));
    m_filter->setMaximumWidth(260);
    label->setBuddy(m_filter);
    bar->addWidget(label);
    bar->addWidget(m_filter);
    m_list->attachFilter(m_filter);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_filter->setFocus(Qt::ShortcutFocusReason);
        m_filter->selectAll();
    });
}

EntryModel* MainWindow::model() const
{
    return m_list->entries();
}

QTableView* MainWindow::table() const
{
    return m_list;
}

QAction* MainWindow::action(app::Command id) const
{
    return m_actions->find(id);
}

QComboBox* MainWindow::timeoutChoice() const
{
    return m_panel->timeoutChoice();
}

void MainWindow::open()
{
    m_logic.open();
    model()->change([] {});

    // the saved window rectangle, column widths, order and top row
    const base::AppSettings& s = m_app.settings;
    const long left = s.number(base::setting::Left), top = s.number(base::setting::Top),
               right = s.number(base::setting::Right), bottom = s.number(base::setting::Bottom);
    QRect saved;
    if (right - left >= 200 && bottom - top >= 150)
        saved = QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                      static_cast<int>(bottom - top));
    placeWindow(this, saved, QSize(1180, 640));
    m_list->restoreLayout(s, m_logic.sortOrder(), s.number(base::setting::TopIndex));
    m_details->restore();
    m_flow->restore();
    m_deadlines->restore();
    m_panel->showTimeout(m_state.operationTimeoutMs());
    updateStatusBar();
    refreshActions();
}

void MainWindow::acceptFrontRequests(std::unique_ptr<platform::FrontRequests> requests)
{
    delete m_frontNotifier;
    m_frontNotifier = nullptr;
    m_frontRequests = std::move(requests);
    if (!m_frontRequests || m_frontRequests->fd() < 0)
        return;
    m_frontNotifier = new QSocketNotifier(static_cast<qintptr>(m_frontRequests->fd()), QSocketNotifier::Read, this);
    connect(m_frontNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_frontRequests->take() > 0 && !m_destroyed)
            bringToFront();
    });
}

void MainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::sessionEnding(int signal)
{
    guarded([this, signal] {
        if (m_destroyed || m_state.unattended())
            return;
        m_app.log.write("Signal %d: the session is ending, Tarnwick closes\n", signal);
        m_state.setUnattended(true);
        // a dialog open now is cancelled; what its caller asks next is answered without a box
        for (int i = 0; i < 16; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                break;
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        }
        postCommand(app::Command::Close);
    });
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // the notice says changes wait to be seen; the window in front has shown them
    if (event->type() == QEvent::ActivationChange && m_notice && isActiveWindow())
        m_notice->withdraw();
}

void MainWindow::notifyChanges(const update::RunSummary& summary)
{
    const bool inFront = QApplication::activeWindow() != nullptr && !isMinimized();
    const std::optional<std::string> text = app::changesNotification(summary, inFront);
    if (!text)
        return;
    if (!m_notice) {
        m_notice = new DesktopNotice(windowIcon(), this);
        connect(m_notice, &DesktopNotice::activated, this, [this] { bringToFront(); });
    }
    m_notice->show(fromBytes(*text));
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

// --- what the front end leaves to the window ---

void MainWindow::busyChanged(bool busy)
{
    m_list->setEnabled(!busy);
    m_panel->setBusy(busy);
    m_banner->setVisible(!busy);
    if (!busy) {
        statusBar()->clearMessage();
        m_list->setFocus();
        updateStatusBar();
    }
    refreshActions();
}

void MainWindow::rowChanged(int position)
{
    model()->rowChanged(position);
    const std::vector<int>& selected = m_state.selection();
    if (std::binary_search(selected.begin(), selected.end(), position))
        scheduleDetails();
}

// --- app::WindowHost ---

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
        m_app.settings, m_state, [this] { runCommand(app::Command::HelpContents); }, this, &m_app.rules);
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
    m_deadlines->storePlace();
    m_flow->hide();
    if (m_logic.startupOk()) {
        app::WindowLayout layout;
        const QRect r = normalGeometry();
        layout.left = r.left();
        layout.top = r.top();
        layout.right = r.left() + r.width();
        layout.bottom = r.top() + r.height();
        m_list->captureLayout(layout);
        m_logic.destroy(layout);
    }
    hide();
    m_details->hide();
    m_deadlines->hide();
    QCoreApplication::exit(app::exitcode::Normal);
}

} // namespace tarnwick::gui
