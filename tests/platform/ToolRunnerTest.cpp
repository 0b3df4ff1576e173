#include <gtest/gtest.h>
#include <csignal>
#include <cstdlib>
#include <future>
#include <iostream>
#include <thread>

#include "platform/posix/PosixToolRunner.h"

namespace companion::testing {
namespace {

// A runner that stalls would hang the suite; end the whole test program instead, which also
// closes the pipes and so ends the stalled tool.
ToolResult runBounded(const std::filesystem::path& tool, std::vector<std::string> arguments,
                      ToolErrorOutput errorOutput) {
    std::promise<ToolResult> promise;
    auto future = promise.get_future();
    std::thread([promise = std::move(promise), tool, arguments = std::move(arguments),
                 errorOutput]() mutable {
        promise.set_value(PosixToolRunner().run(tool, arguments, errorOutput));
    }).detach();
    if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::cerr << "the tool runner stalled on " << tool << "\n";
        std::_Exit(1);
    }
    return future.get();
}

struct RunCase {
    const char* name;
    std::string tool;
    std::vector<std::string> arguments;
    ToolErrorOutput errorOutput;
    std::optional<int> exitStatus;
    std::string output;
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

class ToolRunner : public ::testing::TestWithParam<RunCase> {};

TEST_P(ToolRunner, RunsTheToolToItsEnd) {
    const RunCase& c = GetParam();
    const auto result = runBounded(c.tool, c.arguments, c.errorOutput);
    ASSERT_TRUE(result.started()) << *result.launchError;
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.succeeded(), c.exitStatus == 0);
    EXPECT_EQ(result.output, c.output);
}

const std::string kBoth = "echo out; echo err >&2; echo more";

INSTANTIATE_TEST_SUITE_P(
    Tools, ToolRunner,
    ::testing::Values(
        // Each argument arrives whole and unexpanded: no shell stands between.
        RunCase{"NoShell",
                "/usr/bin/printf",
                {"[%s]\n", "a b", "$HOME;*`x`", ""},
                ToolErrorOutput::Discard,
                0,
                "[a b]\n[$HOME;*`x`]\n[]\n"},
        RunCase{"ErrorsDiscarded",
                "/bin/sh",
                {"-c", kBoth},
                ToolErrorOutput::Discard,
                0,
                "out\nmore\n"},
        RunCase{"ErrorsMerged",
                "/bin/sh",
                {"-c", kBoth},
                ToolErrorOutput::MergeWithOutput,
                0,
                "out\nerr\nmore\n"},
        RunCase{"ExitStatus",
                "/bin/sh",
                {"-c", "echo partial; exit 3"},
                ToolErrorOutput::Discard,
                3,
                "partial\n"},
        RunCase{"EndedBySignal",
                "/bin/sh",
                {"-c", "kill -KILL $$"},
                ToolErrorOutput::Discard,
                std::nullopt,
                ""},
        // Eight megabytes on each stream, far beyond what a pipe holds, written at once.
        RunCase{"LargeOutputs",
                "/bin/sh",
                {"-c",
                 "head -c 8000000 /dev/zero | tr '\\0' e >&2 & head -c 8000000 /dev/zero "
                 "| tr '\\0' o; wait"},
                ToolErrorOutput::Discard,
                0,
                std::string(8'000'000, 'o')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToolRunnerLaunch, ReportsWhyAToolCouldNotStart) {
    for (const char* tool : {"/nonexistent/sqlite3", "/etc/hostname", "/tmp"}) {
        const auto result = runBounded(tool, {}, ToolErrorOutput::Discard);
        ASSERT_FALSE(result.started()) << tool;
        EXPECT_FALSE(result.succeeded());
        EXPECT_NE(result.launchError->find(tool), std::string::npos) << *result.launchError;
    }
}

// Where children are reaped behind the runner's back, a lost status must not pass for success.
TEST(ToolRunnerLaunch, LostExitStatusIsNoSuccess) {
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    const auto result = runBounded("/bin/sh", {"-c", "exit 4"}, ToolErrorOutput::Discard);
    std::signal(SIGCHLD, previous);
    EXPECT_TRUE(result.started());
    EXPECT_FALSE(result.succeeded());
}

}  // namespace
}  // namespace companion::testing
