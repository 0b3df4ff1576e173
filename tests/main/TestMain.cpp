// The entry of every test executable. Each test process gets a network stack of its own: port
// 50051 is always free to it whatever else runs on the machine, tests that start the real daemon
// run side by side, and a test may give loopback an address that exists nowhere else. What a test
// started and left behind (a daemon a failed test never stopped) ends with the test process.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "main/PrivateNetwork.h"

namespace {

std::string problem = "the private network was never set up";

}  // namespace

const std::string& privateNetworkProblem() {
    return problem;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::unshare(CLONE_NEWNET) != 0) {
        problem = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno) +
                  " (run the tests as root, or where network namespaces are allowed)";
    } else if (std::system("ip link set dev lo up") != 0) {
        problem = "ip could not bring up loopback (scripts/install-deps installs iproute2)";
    } else {
        problem.clear();
    }
    // Orphans come to this process, so its children are all that can be left at the end.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int status = RUN_ALL_TESTS();
    std::system(("pkill -KILL -P " + std::to_string(::getpid())).c_str());
    return status;
}
