// The entry of every test executable. Each test process gets a network stack of its own: port
// 50051 is always free to it whatever else runs on the machine, tests that start the real daemon
// run side by side, and a test may give loopback an address that exists nowhere else. What a test
// started and left behind (a daemon a failed test never stopped) ends with the test process, and
// so do its changes to the environment: ctest runs every test in a process of its own.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "main/PrivateNetwork.h"

static std::string problem;  // set once by main, before any test runs

const std::string& privateNetworkProblem() {
    return problem;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Mounts too are the process's own, so a test may mount a full or a read-only folder.
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        problem = std::string("unshare(CLONE_NEWNET | CLONE_NEWNS): ") + std::strerror(errno) +
                  " (run the tests as root, or where namespaces are allowed)";
    } else if (std::system("ip link set dev lo up") != 0) {
        problem = "ip could not bring up loopback (scripts/install-deps installs iproute2)";
    }
    // Orphans come to this process (its shell's $PPID). Whole trees are listed before any dies,
    // or a child's children would escape to init.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int status = RUN_ALL_TESTS();
    std::system(
        "t() { for c in $(pgrep -P $1); do [ $c = $$ ] || { t $c; echo $c; }; done; }; "
        "kill -KILL $(t $PPID) 2>/dev/null");
    return status;
}
