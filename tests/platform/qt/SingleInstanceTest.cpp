#include <gtest/gtest.h>
#include <algorithm>

#include "platform/posix/PosixProcessLauncher.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

// Four launches at once of a stand-in for the companion with the real guard, in a runtime
// folder of the test's own: one runs on and takes a "reopen" from each of the others, which end.
TEST(SingleInstance, LaterLaunchesHandReopenToTheOneThatRuns) {
    TemporaryFolder runtime;
    ScopedEnvironment folder("XDG_RUNTIME_DIR", runtime.path().string());
    std::vector<std::pair<std::shared_ptr<ChildProcess>, std::filesystem::path>> launches;
    for (const auto* name : {"a", "b", "c", "d"}) {
        writeFile(runtime.path() / name, "");
        launches.emplace_back(
            std::get<0>(PosixProcessLauncher().launch(
                {SINGLE_INSTANCE_PROBE, {}, runtime.path() / name}, [](const auto&) {})),
            runtime.path() / name);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::ranges::count_if(
                       launches, [](const auto& launch) { return launch.first->isRunning(); }) == 1;
        },
        60));
    for (const auto& [process, output] : launches) {
        const std::string expected =
            process->isRunning() ? "running\nreopen\nreopen\nreopen\n" : "handed over\n";
        EXPECT_TRUE(waitUntil([&] { return readFile(output) == expected; })) << readFile(output);
        process->terminate();
    }
}

}  // namespace
}  // namespace companion::testing
