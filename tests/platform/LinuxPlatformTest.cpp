#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <csignal>
#include <cstddef>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include "main/PrivateNetwork.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/XdgLoginItem.h"
#include "platform/posix/LoopbackHttpClient.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

using ::testing::HasSubstr;

TEST(ProcessLauncher, StartsChildrenCleanReportsEachExitOnceAndNeverSignalsARecycledId) {
    ManualMainQueue queue;
    TemporaryFolder dir;
    std::vector<std::shared_ptr<ChildProcess>> ended;
    const auto launch = [&](const char* program, std::vector<std::string> arguments) {
        writeFile(dir.path() / "out", "");
        return std::get<0>(PosixProcessLauncher().launch(
            {program, arguments, dir.path() / "out"},
            [&](const auto& process) { queue.post([&, process] { ended.push_back(process); }); }));
    };
    // What the companion blocks or ignores, its children neither block nor ignore.
    sigset_t term{};
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    const auto pipe = std::signal(SIGPIPE, SIG_IGN);
    const auto first = launch("/bin/grep", {"^Sig[BI]", "/proc/self/status"});
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    std::signal(SIGPIPE, pipe);
    ASSERT_TRUE(queue.runUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(readFile(dir.path() / "out"),
              "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    // Blocked in the newcomer, a stray SIGTERM stays pending where /proc shows it.
    std::ofstream("/proc/sys/kernel/ns_last_pid") << first->processIdentifier() - 1;
    const char* const blockTerm =
        "import signal, time; signal.pthread_sigmask(signal.SIG_BLOCK, "
        "[signal.SIGTERM]); print(flush=True); time.sleep(60)";
    const auto second = launch("/usr/bin/python3", {"-c", blockTerm});
    ASSERT_TRUE(waitUntil([&] { return readFile(dir.path() / "out") == "\n"; }));
    first->terminate();
    const auto status =
        readFile("/proc/" + std::to_string(second->processIdentifier()) + "/status");
    ::kill(second->processIdentifier(), SIGKILL);
    ASSERT_TRUE(queue.runUntil([&] { return ended.size() == 2; }));
    EXPECT_EQ(ended, (std::vector{first, second}));
    if (second->processIdentifier() != first->processIdentifier()) {
        // Without root, or when a process beside this test took the number first.
        GTEST_SKIP() << "the ended child's process id could not be reused";
    }
    EXPECT_THAT(status, HasSubstr("ShdPnd:\t0000000000000000"));
}

TEST(ToolRunner, ReportsStatusAndDrainedOutput) {
    const auto run = [](const std::string& script) {
        return PosixToolRunner().run("/bin/sh", {"-c", script}, ToolErrorOutput::Discard);
    };
    // Far more on both streams than a pipe holds.
    const auto large =
        run("head -c 8000000 /dev/zero | tr '\\0' e >&2 & head -c 8000000 /dev/zero | tr '\\0' o");
    EXPECT_TRUE(large.succeeded() && large.output == std::string(8'000'000, 'o'));
    // Children reaped behind the runner's back leave a wait that fails: no success.
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    EXPECT_FALSE(run("exit 0").succeeded());
    std::signal(SIGCHLD, previous);
}

TEST(LoopbackHttpClient, WritesTheRequestAndReportsTheStatusOrWhyNotOnAWorker) {
    // clang-format off
    for (const auto& [url, method, header] : std::vector<std::array<std::string, 3>>{
             {"http://localhost:50051/", "GET", ""}, {"https://127.0.0.1/", "GET", ""},
             {"http://127.0.0.1:0/", "GET", ""}, {"http://127.0.0.1:65536/", "GET", ""},
             {"http://127.0.0.1:5x/", "GET", ""}, {"http://[::1/", "GET", ""},
             {"http://127.0.0.1/a b", "GET", ""}, {"http://127.0.0.1/", "PO ST", ""},
             {"http://127.0.0.1/", "GET", "b\r\nX: y"}}) {
        const HttpRequest bad{.url = url, .method = method, .headers = {{"A", header}}};
        EXPECT_FALSE(LoopbackHttpClient().send(bad, [](auto) { ADD_FAILURE(); })) << url;
    }
    REQUIRE_PRIVATE_NETWORK();
    ::setenv("http_proxy", "http://127.0.0.1:9", 1);  // never followed to the daemon
    // What the server on 50051 answers ("-": nothing, until the client gives up), and the outcome.
    for (const auto& [url, answer, outcome] : std::vector<std::array<std::string, 3>>{
             {"http://127.0.0.1:50051/v1/x?y", "HTTP/1.1 201 Created\r\n\r\n", "201"},
             {"http://[::1]:50051/v1/x?y", "HTTP/1.0 404\r\n", "404"},
             {"http://127.0.0.1:50051/", "SSH-2.0-x\r\n", "The server's answer is not HTTP."},
             {"http://127.0.0.1:50051/", "HTTP/1.1 2000 x\r\n", "The server's answer is not HTTP."},
             {"http://127.0.0.1:50051/", "", "The server closed the connection without answering."},
             {"http://127.0.0.1:50051/", "-", "Operation timed out after N milliseconds."},
             {"http://127.0.0.1:50052/", "",
              "Failed to connect to 127.0.0.1 port 50052 after N ms: "
              "Couldn't connect to server"}}) {
        const bool v6 = url.find('[') != std::string::npos;
        const int on = 1, listener = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in6 at6{.sin6_family = AF_INET6, .sin6_port = htons(50051),
                         .sin6_addr = in6addr_loopback};
        sockaddr_in at4{.sin_family = AF_INET, .sin_port = htons(50051),
                        .sin_addr = {htonl(INADDR_LOOPBACK)}};
        ASSERT_EQ(v6 ? ::bind(listener, reinterpret_cast<sockaddr*>(&at6), sizeof at6)
                     : ::bind(listener, reinterpret_cast<sockaddr*>(&at4), sizeof at4), 0);
        // clang-format on
        ::listen(listener, 1);
        std::string received;
        std::thread server([&, answer = answer] {
            char buffer[1024];
            const int peer = ::accept(listener, nullptr, nullptr);
            received.assign(buffer, std::max<ssize_t>(::recv(peer, buffer, sizeof buffer, 0), 0));
            if (answer != "-")
                ::send(peer, answer.data(), answer.size(), MSG_NOSIGNAL), ::shutdown(peer, SHUT_WR);
            while (::recv(peer, buffer, sizeof buffer, 0) > 0) {  // until the client hangs up
            }
            ::close(peer);
        });
        std::promise<std::pair<HttpOutcome, std::thread::id>> done;
        const HttpRequest request{.url = url, .method = "POST", .headers = {{"Type", "json"}},
                                  .body = "{}", .timeoutSeconds = 0.3};
        ASSERT_TRUE(LoopbackHttpClient().send(request, [&](HttpOutcome outcome) {
            done.set_value({outcome, std::this_thread::get_id()});
        }));
        const auto [got, worker] = done.get_future().get();
        EXPECT_NE(worker, std::this_thread::get_id());
        EXPECT_EQ(got.error ? std::regex_replace(*got.error, std::regex("[0-9]+ m"), "N m")
                            : std::to_string(got.status.value_or(0)),
                  outcome);
        ::shutdown(listener, SHUT_RDWR);  // ends an accept that nothing will come to
        server.join();
        ::close(listener);
        EXPECT_TRUE(outcome != "201" ||
                    received == "POST /v1/x?y HTTP/1.1\r\nHost: 127.0.0.1:50051\r\nType: json\r\n"
                                "Content-Length: 2\r\nConnection: close\r\n\r\n{}")
            << received;
    }
}

// Probes from a thread whose netlink sockets are refused, as in a sandbox.
bool probedWithoutNetlink() {
    bool seen = false;
    std::thread([&] {
        sock_filter refuseNetlink[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
        const sock_fprog filter{.len = std::size(refuseNetlink), .filter = refuseNetlink};
        ASSERT_EQ(::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0), 0);
        ASSERT_EQ(::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter), 0);
        seen = LinuxPortProbe().isListening("50051");
    }).join();
    return seen;
}

TEST(PortProbe, SeesOnlyListenersOfEitherFamilyThroughNetlinkOrTheSocketTables) {
    for (const auto& [row, listens] : {std::pair{"0: 0100007F:C383 00000000:0000 0A", true},
                                       {"0: 0100007F:C383 0100007F:D431 01", false},
                                       {"0: 0100007F:D431 0100007F:C383 0A", false}}) {
        EXPECT_EQ(socketTableListensOn(std::string("sl local rem st\n") + row, 50051), listens);
    }
    REQUIRE_PRIVATE_NETWORK();
    enum Use { Bound, Listening, Connected };
    const sockaddr_in v4{.sin_family = AF_INET, .sin_port = htons(50051)},
        other{
            .sin_family = AF_INET, .sin_port = htons(50052), .sin_addr = {htonl(INADDR_LOOPBACK)}};
    // A socket on the address; answers what netlink, /proc and the probe without netlink see.
    const auto probed = [&](auto address, Use use) {
        const auto* at = reinterpret_cast<const sockaddr*>(&address);
        const int fd = ::socket(at->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        const auto* to = reinterpret_cast<const sockaddr*>(&other);
        EXPECT_TRUE(::bind(fd, at, sizeof address) == 0 &&
                    (use == Bound || (use == Listening ? ::listen(fd, 1) == 0
                                                       : ::connect(fd, to, sizeof other) == 0)));
        std::vector<bool> seen;
        for (const auto source : {PortProbeSource::Netlink, PortProbeSource::ProcNet}) {
            seen.push_back(LinuxPortProbe(source).isListening("50051"));
        }
        seen.push_back(probedWithoutNetlink());
        ::close(fd);
        return seen;
    };
    // A listener elsewhere, so the connected socket has a peer and a probe ignoring ports errs.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_TRUE(::bind(listener, reinterpret_cast<const sockaddr*>(&other), sizeof other) == 0 &&
                ::listen(listener, 1) == 0);
    const auto v6 = sockaddr_in6{.sin6_family = AF_INET6, .sin6_port = htons(50051)};
    EXPECT_EQ(probed(v4, Listening), std::vector({true, true, true}));
    EXPECT_EQ(probed(v6, Listening), std::vector({true, true, true}));
    EXPECT_EQ(probed(v4, Bound), std::vector({false, false, false}));
    EXPECT_EQ(probed(v4, Connected), std::vector({false, false, false}));
    ::close(listener);
}

TEST(XdgDirectories, FollowTheEnvironmentButNotRelativeValues) {
    ::setenv("HOME", "/h", 1), ::setenv("XDG_DATA_HOME", "/d", 1);
    ::setenv("XDG_STATE_HOME", "s", 1);
    EXPECT_EQ(XdgDirectories().applicationSupportDirectory(), "/d");
    EXPECT_EQ(XdgDirectories().libraryDirectory(), "/h/.local/state");
}

TEST(XdgLoginItem, StatusFollowsTheEntry) {
    TemporaryFolder home;
    ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    const auto program = home.path() / "O $H`x`\"\\%/companion",
               entry = home.path() / "autostart/orvane-pelix-companion.desktop";
    writeScript(program, "exit 0");
    XdgLoginItem item(program);
    ASSERT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    EXPECT_THAT(readFile(entry), HasSubstr("Exec=\"" + home.path().string() +
                                           R"(/O \\$H\\`x\\`\\"\\\\%%/companion")"));
    writeFile(entry, readFile(entry) + "Hidden=true\n");
    EXPECT_EQ(item.status(), LoginItemStatus::RequiresApproval);
    EXPECT_EQ(XdgLoginItem(home.path() / "missing").status(), LoginItemStatus::NotFound);
}

}  // namespace
}  // namespace companion::testing
