#pragma once

#include "app/commands.h"

#include <QObject>

#include <functional>
#include <map>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

namespace tarnwick::gui {

// The window's commands as actions: one action per command with its text and key
// from the command table, the menu bar, the pop-ups and the tool bar built from
// them, and their enabling and check marks from the command state. An action runs
// its command through `run`; a menu about to open asks for `refresh` first.
class CommandActions final : public QObject {
    Q_OBJECT
public:
    CommandActions(QWidget* window, std::function<void(app::Command)> run, std::function<void()> refresh);

    // The action of `id`, made when first asked for; its keys work whether or not a menu shows it.
    QAction* action(app::Command id);
    // The action of `id` when one was made; none otherwise.
    QAction* find(app::Command id) const;

    void buildMenuBar(QMenuBar* bar);
    // The items of a pop-up (`popup`: the Change items read "Change " and the column caption).
    void buildMenu(QMenu* menu, const std::vector<app::MenuItem>& items, bool popup);
    // The tool bar's buttons: the most used commands under plain labels, enabled as their actions are.
    void buildToolBar(QToolBar* bar);

    // Enabling and check marks for `state`.
    void refresh(const app::CommandState& state);

private:
    QWidget* m_window;
    std::function<void(app::Command)> m_run;
    std::function<void()> m_refresh;
    std::map<app::Command, QAction*> m_actions;
};

} // namespace tarnwick::gui
