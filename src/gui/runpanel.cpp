#include "gui/runpanel.h"

#include "app/mainstate.h"
#include "app/mainwindowlogic.h"
#include "app/timeout.h"
#include "gui/textconv.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace tarnwick::gui {

namespace {

constexpr int k_tickMs = 100;
constexpr int k_activityTicks = 3; // a flow line keeps its arrow lit this many ticks

QPixmap statusPixmap(const char* name)
{
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg")).pixmap(16, 16);
}

} // namespace

RunPanel::RunPanel(app::MainWindowLogic& logic, std::function<void(const std::function<void()>&)> guarded,
                   std::function<void()> cancel, QWidget* parent)
    : QWidget(parent), m_logic(logic), m_guarded(std::move(guarded)), m_runGroup(new QWidget(this)),
      m_runCaption(new QLabel(m_runGroup)), m_runBar(new QProgressBar(m_runGroup)), m_operationGroup(new QWidget(this)),
      m_statusIcon(new QLabel(m_operationGroup)), m_operationBar(new QProgressBar(m_operationGroup)),
      m_timeout(new QComboBox(this)), m_cancel(new QPushButton(QStringLiteral("Cancel (Esc)"), this)),
      m_timer(new QTimer(this))
{
    auto* panel = new QHBoxLayout(this);
    panel->setContentsMargins(8, 4, 8, 4);
    auto* run = new QHBoxLayout(m_runGroup);
    run->setContentsMargins(0, 0, 0, 0);
    m_runBar->setFormat(QStringLiteral("%v of %m"));
    run->addWidget(m_runCaption);
    run->addWidget(m_runBar, 1);
    panel->addWidget(m_runGroup, 2);
    auto* operation = new QHBoxLayout(m_operationGroup);
    operation->setContentsMargins(0, 0, 0, 0);
    m_statusIcon->setFixedSize(18, 18);
    m_operationBar->setFormat(QStringLiteral("%v s of %m s"));
    operation->addWidget(m_statusIcon);
    operation->addWidget(m_operationBar, 1);
    panel->addWidget(m_operationGroup, 1);
    for (int ms : app::k_timeoutChoices)
        m_timeout->addItem(QString::fromStdString(app::timeoutText(ms)), ms);
    m_timeout->setToolTip(QStringLiteral("Time-out of one network operation"));
    panel->addWidget(m_timeout);
    connect(m_cancel, &QPushButton::clicked, this, [cancel = std::move(cancel)] { cancel(); });
    panel->addWidget(m_cancel);
    hide();
    m_operationGroup->hide();
    m_timer->setInterval(k_tickMs);
    connect(m_timer, &QTimer::timeout, this, [this] { m_guarded([this] { tick(); }); });
}

void RunPanel::runStart(const std::string& caption, int range)
{
    m_runCaption->setText(fromBytes(caption));
    m_runBar->setRange(0, std::max(range, 1));
    m_runBar->setValue(0);
    m_runGroup->show();
    show();
}

void RunPanel::runPosition(int position)
{
    m_runBar->setValue(std::min(position, m_runBar->maximum()));
}

void RunPanel::runEnd()
{
    m_runGroup->hide();
}

void RunPanel::operationStart(int timeoutSeconds)
{
    m_operationBar->setRange(0, std::max(timeoutSeconds, 1));
    m_operationBar->setValue(0);
    m_statusIcon->setPixmap(statusPixmap("net-idle"));
    m_operationGroup->show();
    show();
    m_timer->start();
}

void RunPanel::operationEnd()
{
    m_timer->stop();
    m_sendingTicks = m_receivingTicks = 0;
    m_operationGroup->hide();
}

void RunPanel::setBusy(bool busy)
{
    setVisible(busy);
    m_cancel->setVisible(busy);
    m_timeout->setVisible(busy);
    if (!busy)
        m_runGroup->hide();
}

void RunPanel::noteActivity(bool sending)
{
    (sending ? m_sendingTicks : m_receivingTicks) = k_activityTicks;
}

void RunPanel::showTimeout(int milliseconds)
{
    int choice = 0;
    for (int i = 0; i < m_timeout->count(); ++i) {
        if (m_timeout->itemData(i).toInt() <= milliseconds)
            choice = i;
    }
    m_timeout->setCurrentIndex(choice);
}

void RunPanel::tick()
{
    app::MainState& state = m_logic.state();
    // the choice is the window's time-out; a download keeps its own fixed one
    const int choice = m_timeout->currentData().toInt();
    if (choice > 0 && choice != state.operationTimeoutMs()) {
        m_logic.setTimeoutChoice(choice);
        m_operationBar->setRange(0, state.currentTimeoutMs() / 1000);
    }
    const int elapsed = state.operationElapsedMs();
    if (elapsed < state.currentTimeoutMs())
        m_operationBar->setValue(elapsed / 1000);
    else
        state.checkTimeout();
    m_sendingTicks = std::max(m_sendingTicks - 1, 0);
    m_receivingTicks = std::max(m_receivingTicks - 1, 0);
    const char* name = m_sendingTicks && m_receivingTicks ? "net-both"
                       : m_sendingTicks                   ? "net-sending"
                       : m_receivingTicks                 ? "net-receiving"
                                                          : "net-idle";
    m_statusIcon->setPixmap(statusPixmap(name));
}

} // namespace tarnwick::gui
