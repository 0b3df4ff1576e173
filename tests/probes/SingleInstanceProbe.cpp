// Stands in for the companion in the tests of the reopen hand-over: the same guard, claimed the
// way the companion claims it, with a line on standard output for each thing that happens.
#include <QApplication>
#include <QProcess>
#include <iostream>
#include <string_view>

#include "platform/qt/SingleInstance.h"

int main(int argc, char** argv) {
    using companion::SingleInstance;
    QApplication application(argc, argv);
    SingleInstance instance;
    switch (instance.claim()) {
        case SingleInstance::Claim::Running:
            break;
        case SingleInstance::Claim::HandedOver:
            std::cout << "handed over" << std::endl;
            return 0;
        case SingleInstance::Claim::NoAnswer:
            std::cout << "no answer" << std::endl;
            return 1;
    }
    // Started the way Qt starts the file manager behind Open Logs, so it gets whatever
    // descriptors were not marked to close.
    if (argc > 1 && std::string_view(argv[1]) == "--with-child") {
        qint64 pid = 0;
        if (!QProcess::startDetached("/bin/sleep", {"60"}, {}, &pid)) {
            return 2;
        }
        std::cout << "child " << pid << std::endl;
    }
    int reopens = 0;
    instance.setReopenHandler(
        [&reopens](bool) { std::cout << "reopen " << ++reopens << std::endl; });
    std::cout << "running" << std::endl;
    return QApplication::exec();
}
