#pragma once

#include <QApplication>

namespace companion::testing {

// The one application object of the Qt test run, made on first use on the main thread.
inline QApplication& qtApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

}  // namespace companion::testing
