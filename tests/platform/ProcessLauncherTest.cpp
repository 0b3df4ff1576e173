#include <gtest/gtest.h>
#include <atomic>
#include <mutex>

#include "platform/posix/PosixProcessLauncher.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

struct Exits {
    std::mutex mutex;
    std::vector<std::shared_ptr<ChildProcess>> processes;
    std::atomic<int> count{0};

    TerminationHandler handler() {
        return [this](const std::shared_ptr<ChildProcess>& process) {
            std::lock_guard lock(mutex);
            processes.push_back(process);
            ++count;
        };
    }
};

std::shared_ptr<ChildProcess> launchOrFail(const LaunchRequest& request, Exits& exits) {
    auto launched = PosixProcessLauncher().launch(request, exits.handler());
    if (auto* error = std::get_if<std::string>(&launched)) {
        ADD_FAILURE() << *error;
        return nullptr;
    }
    return std::get<std::shared_ptr<ChildProcess>>(launched);
}

TEST(ProcessLauncher, PassesArgumentsWhole_AppendsBothStreamsToTheFile_InheritsEnvironment) {
    TemporaryFolder folder;
    const fs::path script = folder.path() / "dir with space" / "print args";
    writeScript(script,
                "for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done\n"
                "echo \"env=$COMPANION_PROBE cwd=$(pwd)\"\n"
                "echo to-stderr >&2");
    const fs::path log = folder.path() / "out.log";
    writeFile(log, "kept\n");
    ::setenv("COMPANION_PROBE", "inherited", 1);
    Exits exits;
    auto process = launchOrFail({script, {"-a", "two words", "", "$HOME;x"}, log}, exits);
    ASSERT_TRUE(process);
    ASSERT_TRUE(waitUntil([&] { return exits.count == 1; }));
    EXPECT_EQ(readFile(log), "kept\n<-a>\n<two words>\n<>\n<$HOME;x>\nenv=inherited cwd=" +
                                 fs::current_path().string() + "\nto-stderr\n");
}

TEST(ProcessLauncher, ReportsEachExitOnceWithTheProcessItself) {
    TemporaryFolder folder;
    writeFile(folder.path() / "log", "");
    Exits exits;
    auto first = launchOrFail({"/bin/sh", {"-c", "exit 3"}, folder.path() / "log"}, exits);
    auto second = launchOrFail({"/bin/sleep", {"30"}, folder.path() / "log"}, exits);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(waitUntil([&] { return exits.count == 1; }));
    EXPECT_EQ(exits.processes.at(0), first);
    EXPECT_FALSE(first->isRunning());
    EXPECT_TRUE(second->isRunning());

    second->terminate();
    ASSERT_TRUE(waitUntil([&] { return exits.count == 2; }));
    EXPECT_EQ(exits.processes.at(1), second);
    EXPECT_FALSE(second->isRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(exits.count, 2);
}

TEST(ProcessLauncher, DescribesWhyAProcessCouldNotStart) {
    TemporaryFolder folder;
    writeFile(folder.path() / "log", "");
    writeFile(folder.path() / "not executable", "#!/bin/sh\n");
    struct Case {
        fs::path executable;
        fs::path log;
        std::string expected;
    } cases[] = {
        {folder.path() / "missing", folder.path() / "log", "No such file or directory"},
        {folder.path() / "not executable", folder.path() / "log", "Permission denied"},
        {"/bin/true", folder.path() / "no such dir" / "log", "No such file or directory"},
    };
    for (const auto& c : cases) {
        Exits exits;
        auto launched = PosixProcessLauncher().launch({c.executable, {}, c.log}, exits.handler());
        auto* error = std::get_if<std::string>(&launched);
        ASSERT_TRUE(error) << c.executable;
        EXPECT_NE(error->find(c.expected), std::string::npos) << *error;
    }
}

}  // namespace
}  // namespace companion::testing
