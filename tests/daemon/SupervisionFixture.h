#pragma once

#include <gtest/gtest.h>
#include <algorithm>

#include "support/TestEnvironment.h"

namespace companion::testing {

// A delegate in a temporary home whose daemon is a shell script that notes every launch.
class Supervision : public ::testing::Test {
  protected:
    ~Supervision() override {
        // Leave no daemon behind for the next test.
        delegate->stopDaemonProcess(false);
        waitUntil([&] { return launchedAndRunning() == 0; });
    }

    std::filesystem::path launchLog() const { return env.home.path() / "launches"; }

    // The daemon appends its arguments to the launch log, then runs the given shell code.
    void installDaemon(const std::string& then) {
        env.installDaemonScript("echo \"$$ $*\" >> '" + launchLog().string() + "'\n" + then);
    }

    int launches() const {
        const std::string log = readFile(launchLog());
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }

    // The daemon notes its launch a moment after it starts.
    bool awaitLaunches(int count) const {
        return waitUntil([&] { return launches() == count; }, 5.0);
    }

    int launchedAndRunning() const { return delegate->daemon && delegate->daemon->isRunning(); }

    // Waits for the main-queue task of a daemon's exit and runs it.
    void awaitExit() {
        const auto before = exitsHandled;
        ASSERT_TRUE(env.queue->runUntil([&] { return exitsHandled > before; })) << "no exit";
    }
    int exitsHandled = 0;

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate = env.makeDelegate();
};

}  // namespace companion::testing
