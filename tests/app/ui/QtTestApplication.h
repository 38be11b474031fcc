// The one application object of the window tests, made for the offscreen platform.
#pragma once

#include <QApplication>

#include <cstdlib>

namespace ie::test {

// Makes the application when there is none yet and returns it; null when one was there already.
inline QApplication* StartOffscreenApplication() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "test_app_ui";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance()) return nullptr;
    return new QApplication(argc, argv);
}

} // namespace ie::test
