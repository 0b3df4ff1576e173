#include "daemon/RestartPolicy.h"

#include <algorithm>
#include <cmath>

#include "app/CompanionAppDelegate.h"

namespace companion {

std::size_t pruneRestartFailures(std::vector<WallClock::time_point>& failures,
                                 WallClock::time_point now, double windowSeconds) {
    std::erase_if(failures, [&](WallClock::time_point failure) {
        return Seconds(now - failure).count() >= windowSeconds;
    });
    return failures.size();
}

double restartDelay(std::size_t previousFailures) {
    return std::min(std::pow(2.0, static_cast<double>(previousFailures)), 30.0);
}

std::string repeatedCrashesText(int maxFailures, double windowSeconds) {
    return "The local daemon exited more than " + std::to_string(maxFailures) + " times in " +
           std::to_string(static_cast<long long>(windowSeconds)) +
           " seconds. Check the companion logs, then choose Start Companion to try again.";
}

void CompanionAppDelegate::scheduleDaemonRestart() {
    if (daemonRestartWorkItem) {
        daemonRestartWorkItem->cancel();
    }
    const auto now = platform.mainQueue->wallNow();
    const std::size_t earlierFailures =
        pruneRestartFailures(daemonRestartFailures, now, restartFailureWindow);
    daemonRestartFailures.push_back(now);

    if (earlierFailures < static_cast<std::size_t>(maxRestartFailures)) {
        daemonRestartWorkItem = platform.mainQueue->postAfter(
            Seconds(restartDelay(earlierFailures)), [weak = weak_from_this()] {
                if (auto self = weak.lock()) {
                    self->startDaemon();
                }
            });
        return;
    }
    daemonShouldRestart = false;
    daemonRestartFailures.clear();
    showAlert("Companion stopped after repeated crashes",
              repeatedCrashesText(maxRestartFailures, restartFailureWindow));
    rebuildMenu();
}

void CompanionAppDelegate::scheduleDaemonStabilityReset(
    const std::shared_ptr<ChildProcess>& process) {
    if (daemonStabilityWorkItem) {
        daemonStabilityWorkItem->cancel();
    }
    daemonStabilityWorkItem = platform.mainQueue->postAfter(
        Seconds(stableRunInterval),
        [weak = weak_from_this(), weakProcess = std::weak_ptr<ChildProcess>(process)] {
            auto self = weak.lock();
            auto process = weakProcess.lock();
            if (self && process && self->daemon == process && process->isRunning()) {
                self->daemonRestartFailures.clear();
            }
        });
}

}  // namespace companion
