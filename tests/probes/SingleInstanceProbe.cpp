// Stands in for the companion in the tests of the reopen hand-over: the same guard, claimed the
// way the companion claims it, with a line on standard output for each thing that happens.
#include <QApplication>
#include <iostream>

#include "platform/qt/SingleInstance.h"

int main(int argc, char** argv) {
    using companion::SingleInstance;
    QApplication application(argc, argv);
    SingleInstance instance;
    if (const auto claim = instance.claim(); claim != SingleInstance::Claim::Running) {
        std::cout << (claim == SingleInstance::Claim::HandedOver ? "handed over\n" : "no answer\n");
        return 0;
    }
    instance.setReopenHandler([](bool) { std::cout << "reopen" << std::endl; });
    std::cout << "running" << std::endl;
    return QApplication::exec();
}
