#include "Daemon.h"

int main(int argc, char** argv) {
    return tarvelind::runDaemon(argc, argv);
}
