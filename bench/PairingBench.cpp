// The cost of the pairing command against the running reference daemon, and of the QR symbol.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "BenchSupport.h"
#include "app/CompanionAppDelegate.h"
#include "pairing/PairingLink.h"
#include "pairing/QrSymbol.h"

namespace companion::bench {
namespace {

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A delegate whose daemon runs and answers on its port; stopped, and waited for, at the end.
class RunningDaemon {
  public:
    RunningDaemon() : delegate(std::make_shared<CompanionAppDelegate>(home.platform)) {
        delegate->startDaemon();
        ready = delegate->daemon && waitFor([&] { return delegate->isPortListening(); });
    }
    ~RunningDaemon() {
        const auto process = delegate->daemon;
        delegate->stopDaemonProcess(false);
        if (process) {
            waitFor([&] { return !process->isRunning(); });
        }
    }

    BenchHome home;
    std::shared_ptr<CompanionAppDelegate> delegate;
    bool ready = false;
};

constexpr const char* kNoDaemon =
    "no reference daemon answered: set COMPANION_BENCH_RESOURCES to the built Resources folder";

// From the command to a new window on screen: refresh, file, host, link, QR symbol, window.
void BM_ShowPairingQR(benchmark::State& state) {
    RunningDaemon daemon;
    if (!daemon.ready) {
        state.SkipWithError(kNoDaemon);
        return;
    }
    auto& windows = daemon.delegate->pairingWindows;
    for (auto _ : state) {
        daemon.delegate->showPairingQR();
        if (windows.size() != 1 || !windows.back()->isVisible()) {
            state.SkipWithError("the command showed no window");
            break;
        }
        // As if the user closed it, so the next round makes a new one.
        windows.clear();
    }
}
BENCHMARK(BM_ShowPairingQR)->Unit(benchmark::kMillisecond);

// The anchor: the challenge request alone, the least the command has to wait for.
void BM_RefreshPairingCode(benchmark::State& state) {
    RunningDaemon daemon;
    if (!daemon.ready) {
        state.SkipWithError(kNoDaemon);
        return;
    }
    for (auto _ : state) {
        if (daemon.delegate->refreshPairingCode()) {
            state.SkipWithError("the daemon refused the challenge");
            break;
        }
    }
}
BENCHMARK(BM_RefreshPairingCode)->Unit(benchmark::kMillisecond);

void BM_QrSymbol(benchmark::State& state) {
    // A link as long as the argument, the fingerprint taking up the rest.
    const std::string head = pairingLink("studio.local", "50051", "042917", "sha256:");
    const std::string link = head + std::string(state.range(0) - head.size(), 'f');
    for (auto _ : state) {
        benchmark::DoNotOptimize(qrSymbol(link));
    }
}
BENCHMARK(BM_QrSymbol)->Arg(100)->Arg(160)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace companion::bench
