#pragma once

#include <QApplication>

namespace companion::testing {

// The one application object of the Qt test run, made on first use on the main thread.
inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "qt_tests", *argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

}  // namespace companion::testing
