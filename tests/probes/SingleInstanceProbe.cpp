// Stands in for the companion in the reopen tests with the same guard, claimed the same way. A
// launch that hands over ends quietly; the one that runs ends after its first reopen.
#include <QApplication>
#include <iostream>

#include "platform/qt/SingleInstance.h"

int main(int argc, char** argv) {
    using companion::SingleInstance;
    QApplication application(argc, argv);
    SingleInstance instance;
    if (const auto claim = instance.claim(); claim != SingleInstance::Claim::Running)
        return claim == SingleInstance::Claim::HandedOver ? 0 : 1;
    instance.setReopenHandler([](bool) {
        std::cout << "reopen" << std::endl;
        QApplication::quit();
    });
    std::cout << "running" << std::endl;
    return QApplication::exec();
}
