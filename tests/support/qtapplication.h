#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

namespace tarnwick::test {

// The one application object of a GUI test program, made on first use and drawing off screen.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
}

// Handles events until `done` holds or `ms` have passed; true when it held.
inline bool waitFor(const std::function<bool()>& done, int ms = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace tarnwick::test
