#pragma once

#include <QApplication>

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

} // namespace tarnwick::test
