#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/linux/LinuxPlatform.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(SocketTable, FindsOnlyListeningSocketsOnThePort) {
    const std::string header =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
    struct Case {
        const char* name;
        std::string rows;
        unsigned port;
        bool listens;
    } cases[] = {
        {"listening v4", "   0: 0100007F:C383 00000000:0000 0A 00000000:00000000 00:00000000 0\n",
         50051, true},
        {"listening on all", "   0: 00000000:C383 00000000:0000 0A 0:0 0:0 0\n", 50051, true},
        {"listening v6",
         "   0: 00000000000000000000000001000000:C383 00000000000000000000000000000000:0000 0A "
         "0:0 0:0 0\n",
         50051, true},
        {"established only", "   0: 0100007F:C383 0100007F:D431 01 0:0 0:0 0\n", 50051, false},
        {"remote end on the port", "   0: 0100007F:D431 0100007F:C383 0A 0:0 0:0 0\n", 50051,
         false},
        {"other port", "   0: 0100007F:C384 00000000:0000 0A 0:0 0:0 0\n", 50051, false},
        {"empty table", "", 50051, false},
        {"garbage", "nonsense\n\n   0: 0100007F:ZZZZ 00000000:0000 0A\n", 50051, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(socketTableListensOn(header + c.rows, c.port), c.listens) << c.name;
    }
}

struct Socket {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ~Socket() { ::close(fd); }
};

std::string boundPort(Socket& socket) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length);
    return std::to_string(ntohs(address.sin_port));
}

TEST(PortProbe, SeesARealListeningSocketAndNotABoundOrClosedOne) {
    ProcNetPortProbe probe;
    std::string port;
    {
        Socket socket;
        port = boundPort(socket);
        EXPECT_FALSE(probe.isListening(port)) << "bound but not listening";
        ASSERT_EQ(::listen(socket.fd, 1), 0);
        EXPECT_TRUE(probe.isListening(port));
    }
    EXPECT_FALSE(probe.isListening(port));
    for (const char* bad : {"", "port", "70000", "-1", "50051 "}) {
        EXPECT_FALSE(probe.isListening(bad)) << bad;
    }
}

TEST(ProcessProbe, NamesTheProgramByItsFirstArgument) {
    using namespace std::string_literals;
    EXPECT_EQ(programNameFromCmdline("/opt/x y/tarvelind-pcap-darwin-arm64\0-allow-capture\0"s),
              "tarvelind-pcap-darwin-arm64");
    EXPECT_EQ(programNameFromCmdline("sleep\0" "60\0"s), "sleep");
    EXPECT_EQ(programNameFromCmdline(""), std::nullopt);

    auto child = startChild("/bin/sleep", {"30"});
    LinuxProcessProbe probe;
    // The name can lag a moment behind the start on a busy machine.
    EXPECT_TRUE(waitUntil([&] { return probe.programName(child->processIdentifier()) == "sleep"; }));
    EXPECT_EQ(probe.probe(child->processIdentifier()), ProcessProbeResult::Alive);
    child->terminate();
    ASSERT_TRUE(waitUntil([&] { return !child->isRunning(); }));
    EXPECT_EQ(probe.probe(child->processIdentifier()), ProcessProbeResult::NoSuchProcess);
}

TEST(XdgDirectories, FollowTheEnvironmentAndIgnoreRelativeValues) {
    struct Case {
        const char* data;
        const char* state;
        std::string expectedData;
        std::string expectedState;
    } cases[] = {
        {"/x/data", "/x/state", "/x/data", "/x/state"},
        {nullptr, nullptr, "/home/someone/.local/share", "/home/someone/.local/state"},
        {"relative", "", "/home/someone/.local/share", "/home/someone/.local/state"},
    };
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/someone", 1);
    for (const auto& c : cases) {
        c.data ? ::setenv("XDG_DATA_HOME", c.data, 1) : ::unsetenv("XDG_DATA_HOME");
        c.state ? ::setenv("XDG_STATE_HOME", c.state, 1) : ::unsetenv("XDG_STATE_HOME");
        XdgDirectories directories;
        EXPECT_EQ(directories.applicationSupportDirectory(), c.expectedData);
        EXPECT_EQ(directories.libraryDirectory(), c.expectedState);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace companion::testing
