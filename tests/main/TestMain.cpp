// The entry of every test executable. Each test process gets a network stack of its own before
// any test runs: port 50051 is then always free, whatever else runs on the machine, tests that
// start the real daemon can run side by side, and a test may give the loopback interface an
// address that exists nowhere else. Whatever a test started and left behind (a daemon that a
// failed test never stopped, a helper that its shell orphaned) ends with the test process.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "main/PrivateNetwork.h"

namespace {

std::string problem = "the private network was never set up";

std::string enterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno) +
               " (run the tests as root, or where network namespaces are allowed)";
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    return up ? std::string() : std::string("bringing up loopback: ") + std::strerror(error);
}

// Orphans come to this process (it is their subreaper), so its children are all that is left.
void endLeftoverChildren() {
    const std::string parent = " " + std::to_string(::getpid()) + " ";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::string stat;
        std::getline(std::ifstream(entry.path() / "stat"), stat);
        // "pid (name) state ppid ...": the name may hold anything but ends at the last ')'.
        const auto close = stat.rfind(')');
        if (close != std::string::npos && stat.compare(close + 2 + 1, parent.size(), parent) == 0) {
            ::kill(std::stoi(entry.path().filename()), SIGKILL);
        }
    }
}

}  // namespace

const std::string& privateNetworkProblem() {
    return problem;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    problem = enterPrivateNetwork();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int status = RUN_ALL_TESTS();
    endLeftoverChildren();
    return status;
}
