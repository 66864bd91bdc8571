#pragma once

#include "base/settingkeys.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <string>

namespace tarnwick::base {
class AppSettings;
}

namespace tarnwick::gui {

// The rectangle kept in the settings of `place`; empty when none (or one too small to be a window) is kept.
QRect keptRect(const base::AppSettings& settings, const base::WindowPlace& place);
void keepRect(base::AppSettings& settings, const base::WindowPlace& place, const QRect& rect);

// A window beside the main window with one read-only text view; its rectangle
// and visibility are the settings of `place`.
class SideWindow : public QWidget {
    Q_OBJECT
public:
    SideWindow(const QString& title, const base::WindowPlace& place, base::AppSettings& settings,
               QWidget* parent = nullptr);

    // Shows the window and brings it to the front.
    void present();
    // The saved rectangle and visibility.
    void restore();
    // The rectangle and visibility into the settings, kept from then on.
    void storeAndFreeze();
    QPlainTextEdit* view() const { return m_view; }

signals:
    // The window has been shown (its text may be out of date).
    void shown();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void storeVisible(bool visible);

    base::WindowPlace m_place;
    base::AppSettings& m_settings;
    QPlainTextEdit* m_view;
    bool m_restoring = false;
};

// The TCP/IP flow: lines appended live, the text bounded as the flow log keeps
// it, following the end unless the user has scrolled up.
class FlowWindow final : public SideWindow {
    Q_OBJECT
public:
    FlowWindow(base::AppSettings& settings, QWidget* parent = nullptr);
    void appendLine(const QString& line);

private:
    qsizetype m_length = 0;
};

} // namespace tarnwick::gui
