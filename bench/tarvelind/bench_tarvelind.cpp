// Pairing challenge round trips against the real daemon over loopback, and the rate at which
// the event store takes new events.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "EventStore.h"

namespace {

using Clock = std::chrono::steady_clock;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = "/tmp/tarvelind-bench-XXXXXX";
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
    RunningDaemon(const std::filesystem::path& config, int port) {
        std::vector<std::string> args = {TARVELIND_BINARY,
                                         "-addr",
                                         "loopback",
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
