#include "gui/commandactions.h"

#include "gui/textconv.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidget>

namespace tarnwick::gui {

CommandActions::CommandActions(QWidget* window, std::function<void(app::Command)> run, std::function<void()> refresh)
    : QObject(window), m_window(window), m_run(std::move(run)), m_refresh(std::move(refresh))
{
}

QAction* CommandActions::action(app::Command id)
{
    if (QAction* a = find(id))
        return a;
    const std::optional<app::CommandInfo> info = app::commandInfo(id);
    auto* a = new QAction(m_window);
    a->setText(fromBytes(info ? info->text : std::string()));
    if (info && !info->key.empty()) {
        if (id == app::Command::ViewDetails)
            a->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
        else
            a->setShortcut(QKeySequence(QString::fromStdString(info->key)));
        a->setShortcutContext(Qt::WindowShortcut);
    }
    a->setCheckable(app::commandFrequency(id) || id == app::Command::Ascending || id == app::Command::Descending ||
                    app::commandColumn(id, app::Command::SortColumn));
    connect(a, &QAction::triggered, this, [this, id] { m_run(id); });
    m_window->addAction(a);
    m_actions[id] = a;
    return a;
}

QAction* CommandActions::find(app::Command id) const
{
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CommandActions::buildMenu(QMenu* menu, const std::vector<app::MenuItem>& items, bool popup)
{
    for (const app::MenuItem& item : items) {
        if (item.isSeparator()) {
            menu->addSeparator();
        } else if (item.isSubMenu()) {
            buildMenu(menu->addMenu(fromBytes(item.text)), item.children, popup);
        } else if (app::commandColumn(item.id, app::Command::ChangeColumn)) {
            // the Edit menu's Change items carry the menu caption; the pop-up's own item
            // reads "Change " + the column caption and takes the command's enabling
            QAction* a = action(item.id);
            if (popup) {
                QAction* own = menu->addAction(fromBytes(item.text));
                own->setEnabled(a->isEnabled());
                const app::Command id = item.id;
                connect(own, &QAction::triggered, this, [this, id] { m_run(id); });
            } else {
                a->setText(fromBytes(item.text));
                menu->addAction(a);
            }
        } else if (QAction* a = action(item.id); popup && fromBytes(item.text) != a->text()) {
            // a pop-up item worded for the pop-up ("Update &Selected") runs the command and takes its enabling
            QAction* own = menu->addAction(fromBytes(item.text));
            own->setEnabled(a->isEnabled());
            const app::Command id = item.id;
            connect(own, &QAction::triggered, this, [this, id] { m_run(id); });
        } else {
            menu->addAction(a);
        }
    }
    connect(menu, &QMenu::aboutToShow, this, [this] { m_refresh(); });
}

void CommandActions::buildMenuBar(QMenuBar* bar)
{
    for (const app::MenuItem& top : app::mainMenu())
        buildMenu(bar->addMenu(fromBytes(top.text)), top.children, false);
}

void CommandActions::buildToolBar(QToolBar* bar)
{
    const std::pair<app::Command, const char*> buttons[] = {{app::Command::UpdateAll, "Update All"},
                                                            {app::Command::UpdateSelected, "Update Selected"},
                                                            {app::Command::Add, "Add"},
                                                            {app::Command::Delete, "Delete"},
                                                            {app::Command::SendEmail, "Send E-Mail"}};
    for (const auto& [id, text] : buttons) {
        // the same command under a plain label; its enabling follows the menu action's
        QAction* menuAction = action(id);
        auto* a = bar->addAction(QString::fromLatin1(text));
        a->setToolTip(menuAction->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')));
        const app::Command command = id;
        connect(a, &QAction::triggered, this, [this, command] { m_run(command); });
        connect(menuAction, &QAction::changed, a, [a, menuAction] { a->setEnabled(menuAction->isEnabled()); });
    }
}

void CommandActions::refresh(const app::CommandState& state)
{
    for (auto& [id, a] : m_actions) {
        a->setEnabled(app::isEnabled(id, state));
        if (a->isCheckable())
            a->setChecked(app::isChecked(id, state));
    }
}

} // namespace tarnwick::gui
