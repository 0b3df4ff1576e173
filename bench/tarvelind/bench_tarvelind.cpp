// Pairing challenge round trips against the real daemon over loopback, quiet and while a peer on
// the LAN floods it, and the rate at which the event store takes new events. The process runs in
// a network namespace of its own: the LAN peer and its addresses exist only there.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "EventStore.h"
#include "main/LanPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

bool privateNetwork = false;  // set by main before any benchmark runs

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& base = "/tmp") {
        std::string pattern = base + "/tarvelind-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

/// The daemon as the companion runs it, with its log thrown away.
class RunningDaemon {
  public:
    RunningDaemon(const std::filesystem::path& config, int port, const char* addr = "loopback") {
        std::vector<std::string> args = {TARVELIND_BINARY,
                                         "-addr",
                                         addr,
                                         "-port",
                                         std::to_string(port),
                                         "-config",
                                         config.string(),
                                         "-pairing-code-file",
                                         (config / "pairing-code.json").string()};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start the daemon");

        httplib::Client client("127.0.0.1", port);
        for (auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
            if (auto res = client.Get("/v1/health"); res && res->status == 200)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("the daemon did not start serving");
    }
    ~RunningDaemon() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    /// Resident memory in KiB and open descriptors, from /proc.
    std::pair<double, double> footprint() const {
        const std::string proc = "/proc/" + std::to_string(pid_);
        std::ifstream status(proc + "/status");
        double residentKiB = 0;
        for (std::string word; status >> word;) {
            if (word == "VmRSS:")
                status >> residentKiB;
        }
        auto fds = std::distance(std::filesystem::directory_iterator(proc + "/fd"), {});
        return {residentKiB, static_cast<double>(fds)};
    }

  private:
    pid_t pid_ = -1;
};

/// Arg 1 reuses one connection, as a URL session does; arg 0 connects afresh every time.
void ChallengeRoundTrip(benchmark::State& state) {
    ScratchFolder folder;
    int port = freeLoopbackPort();
    RunningDaemon daemon(folder.path() / "tarvelind", port);
    std::optional<httplib::Client> shared;
    if (state.range(0) == 1)
        shared.emplace("127.0.0.1", port);

    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        std::optional<httplib::Client> fresh;
        httplib::Client& client = shared ? *shared : fresh.emplace("127.0.0.1", port);
        auto res = client.Post("/v1/pairing/challenge", "{}", "application/json");
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!res || res->status != 200) {
            state.SkipWithError("challenge failed");
            break;
        }
    }
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(ChallengeRoundTrip)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

/// What an attacker on the LAN keeps up: 1,000 connections that wait and 200 that trickle a byte
/// a second, each opened again as soon as the daemon drops it.
class Flood {
  public:
    explicit Flood(LanPeer& peer, int port)
        : thread_([this, &peer, port] { peer.asPeer([&] { return hold(port); }); }) {}
    ~Flood() {
        stop_ = true;
        thread_.join();
    }

  private:
    static constexpr int kWaiting = 1000, kTrickling = 200;

    static int open(int port) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, LanPeer::kThisSide, &address.sin_addr);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        return fd;
    }

    int hold(int port) {
        std::vector<pollfd> sockets(kWaiting + kTrickling);
        for (auto& socket : sockets)
            socket = {open(port), POLLRDHUP, 0};
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            poll(sockets.data(), sockets.size(), 0);
            for (std::size_t i = 0; i < sockets.size(); ++i) {
                if (sockets[i].revents != 0) {
                    close(sockets[i].fd);
                    sockets[i].fd = open(port);
                } else if (i < kTrickling) {
                    send(sockets[i].fd, "P", 1, MSG_NOSIGNAL);
                }
            }
        }
        for (auto& socket : sockets)
            close(socket.fd);
        return 0;
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

/// Arg 0: 1 while a LAN peer floods the daemon, 0 without. Arg 1: 1 with the daemon's folder on
/// tmpfs, so the figure is the server's and not the disk's flush; 0 on the disk.
void ChallengeUnderFlood(benchmark::State& state) {
    if (!privateNetwork) {
        state.SkipWithError("needs a network namespace of its own (run as root)");
        return;
    }
    LanPeer peer;
    ScratchFolder folder(state.range(1) == 1 ? "/dev/shm" : "/tmp");
    const int port = 50051;
    RunningDaemon daemon(folder.path() / "tarvelind", port, "lan");
    auto before = daemon.footprint();
    std::optional<Flood> flood;
    if (state.range(0) == 1) {
        flood.emplace(peer, port);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }

    std::vector<double> micros;
    int failures = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        auto res = httplib::Client("127.0.0.1", port)
                       .Post("/v1/pairing/challenge", "{}", "application/json");
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        failures += !res || res->status != 200;
    }
    auto during = daemon.footprint();
    flood.reset();
    // Long enough for every connection the flood left to reach its deadline.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    auto after = daemon.footprint();

    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["failures"] = failures;
    state.counters["rss_kib_before"] = before.first;
    state.counters["rss_kib_during"] = during.first;
    state.counters["rss_kib_after"] = after.first;
    state.counters["fds_before"] = before.second;
    state.counters["fds_during"] = during.second;
    state.counters["fds_after"] = after.second;
}
BENCHMARK(ChallengeUnderFlood)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void EventInsert(benchmark::State& state) {
    ScratchFolder folder;
    std::string error;
    auto store = tarvelind::EventStore::open(folder.path() / "events.sqlite", std::nullopt, error);
    if (!store) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        if (store->record("lan.neighbor.joined", "notice",
                          "A new device joined: 192.168.1.23 (aa:bb:cc:dd:ee:ff) on eth0.")) {
            state.SkipWithError("insert failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(EventInsert)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    privateNetwork = unshare(CLONE_NEWNET) == 0 && std::system("ip link set dev lo up") == 0;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
