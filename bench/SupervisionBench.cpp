// The costs of what the companion does on every menu rebuild and every port wait.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "app/CompanionAppDelegate.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::bench {
namespace {

// A listener on a free loopback port, so both probes have something to find.
struct Listener {
    Listener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, 1);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = std::to_string(ntohs(address.sin_port));
    }
    ~Listener() { ::close(fd); }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string port;
};

void BM_PortProbe_ProcNet(benchmark::State& state) {
    Listener listener;
    LinuxPortProbe probe(PortProbeSource::ProcNet);
    for (auto _ : state) {
        benchmark::DoNotOptimize(probe.isListening(listener.port));
    }
}
BENCHMARK(BM_PortProbe_ProcNet)->Unit(benchmark::kMicrosecond);

// The anchor: the tool the probe stands in for, run as the other platform runs it.
void BM_PortProbe_Lsof(benchmark::State& state) {
    Listener listener;
    PosixToolRunner tools;
    for (auto _ : state) {
        auto result = tools.run("/usr/bin/lsof", {"-nP", "-iTCP:" + listener.port, "-sTCP:LISTEN"},
                                ToolErrorOutput::Discard);
        if (!result.started()) {
            state.SkipWithError("lsof is not installed");
            break;
        }
        benchmark::DoNotOptimize(result.exitStatus);
    }
}
BENCHMARK(BM_PortProbe_Lsof)->Unit(benchmark::kMicrosecond);

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
