// The costs of what the companion does on every menu rebuild and every port wait.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>

#include "BenchSupport.h"
#include "app/CompanionAppDelegate.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::bench {
namespace {

// A listener on a free loopback port, so every probe has something to find.
struct Listener {
    Listener() {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, 1);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = std::to_string(ntohs(address.sin_port));
    }
    ~Listener() { ::close(fd); }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    std::string port;
};

// A network namespace of the benchmark's own for one run, with loopback up, first loaded with
// `timeWait` loopback connections opened and closed: each waits in TIME_WAIT for a minute, as
// on a busy machine. The machine's own table is left alone; the thread returns to it at the end.
class PrivateSocketTable {
  public:
    explicit PrivateSocketTable(long timeWait) {
        ok_ = original_ >= 0 && ::unshare(CLONE_NEWNET) == 0 &&
              std::system("ip link set dev lo up") == 0;
        if (!ok_) {
            return;
        }
        // Loopback lets a new connection take over a port in TIME_WAIT after a second, which
        // would thin the load out while it is built.
        std::ofstream("/proc/sys/net/ipv4/tcp_tw_reuse") << 0;
        Listener server;
        const auto* at = reinterpret_cast<const sockaddr*>(&server.address);
        for (long i = 0; ok_ && i < timeWait; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ok_ = ::connect(client, at, sizeof server.address) == 0;
            const int accepted = ok_ ? ::accept(server.fd, nullptr, nullptr) : -1;
            ::close(client);  // the side that closes first is the one left in TIME_WAIT
            ::close(accepted);
        }
    }
    ~PrivateSocketTable() {
        if (original_ >= 0) {
            ::setns(original_, CLONE_NEWNET);
            ::close(original_);
        }
    }
    bool ok() const { return ok_; }
    // The IPv4 sockets the namespace holds, as its /proc table lists them.
    static double sockets() {
        std::ifstream table("/proc/thread-self/net/tcp");
        std::string line;
        double rows = -1;  // the first line names the columns
        while (std::getline(table, line)) {
            ++rows;
        }
        return rows;
    }

  private:
    int original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    bool ok_ = false;
};

// Probes a listener in a private table holding state.range(0) connections in TIME_WAIT.
template <typename Probe>
void probeListener(benchmark::State& state, Probe probe) {
    PrivateSocketTable table(state.range(0));
    if (!table.ok()) {
        state.SkipWithError("no network namespace of its own, or the load could not be built");
        return;
    }
    Listener listener;
    if (!probe(listener.port)) {
        state.SkipWithError("the probe does not see the listener");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(probe(listener.port));
    }
    state.counters["sockets"] = PrivateSocketTable::sockets();
}

void BM_PortProbe_Netlink(benchmark::State& state) {
    const LinuxPortProbe probe(PortProbeSource::Netlink);
    probeListener(state, [&](const std::string& port) { return probe.isListening(port); });
}

void BM_PortProbe_ProcNet(benchmark::State& state) {
    const LinuxPortProbe probe(PortProbeSource::ProcNet);
    probeListener(state, [&](const std::string& port) { return probe.isListening(port); });
}

// The anchor: the tool the probe stands in for, run as the other platform runs it.
void BM_PortProbe_Lsof(benchmark::State& state) {
    PosixToolRunner tools;
    probeListener(state, [&](const std::string& port) {
        return tools
            .run("/usr/bin/lsof", {"-nP", "-iTCP:" + port, "-sTCP:LISTEN"},
                 ToolErrorOutput::Discard)
            .succeeded();
    });
}

// Each probe with the table loaded as on a busy machine, and idle.
void underLoadAndIdle(benchmark::internal::Benchmark* run) {
    run->ArgName("time_wait")->Arg(10000)->Arg(0)->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_PortProbe_Netlink)->Apply(underLoadAndIdle);
BENCHMARK(BM_PortProbe_ProcNet)->Apply(underLoadAndIdle);
BENCHMARK(BM_PortProbe_Lsof)->Apply(underLoadAndIdle);

void BM_RebuildMenu(benchmark::State& state) {
    BenchHome home;
    auto delegate = std::make_shared<CompanionAppDelegate>(home.platform);
    delegate->statusItem = home.platform.ui->createStatusItem();
    for (auto _ : state) {
        delegate->rebuildMenu();
    }
}
BENCHMARK(BM_RebuildMenu)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace companion::bench
