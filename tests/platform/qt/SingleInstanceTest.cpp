#include "platform/qt/SingleInstance.h"

#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A user's session of its own: a temporary home with a private runtime folder that every
// process started from here meets in.
class Session {
  public:
    Session()
        : runtime_("XDG_RUNTIME_DIR", runtime().string()),
          home_("HOME", home.path().string()),
          config_("XDG_CONFIG_HOME", (home.path() / "config").string()),
          data_("XDG_DATA_HOME", (home.path() / "data").string()),
          state_("XDG_STATE_HOME", (home.path() / "state").string()),
          platform_("QT_QPA_PLATFORM", "offscreen") {
        fs::create_directory(runtime());
        fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    }

    fs::path runtime() const { return home.path() / "runtime"; }
    fs::path socket() const { return runtime() / "orvane-pelix-companion.socket"; }

    // Starts a program that is expected to keep running; its output goes to a file.
    struct Running {
        std::shared_ptr<ChildProcess> process;
        fs::path output;
        std::vector<std::string> lines() const { return linesOf(readFile(output)); }
        bool said(const std::string& line) const {
            const auto all = lines();
            return std::find(all.begin(), all.end(), line) != all.end();
        }
    };
    Running start(const fs::path& program, std::vector<std::string> arguments = {}) {
        const fs::path output = home.path() / ("output-" + std::to_string(++started_));
        writeFile(output, "");
        auto launched = PosixProcessLauncher().launch({program, std::move(arguments), output},
                                                      [](const auto&) {});
        if (auto* error = std::get_if<std::string>(&launched)) {
            throw std::runtime_error(*error);
        }
        running_.push_back(std::get<std::shared_ptr<ChildProcess>>(launched));
        return {running_.back(), output};
    }

    // Runs a program to its end, as a user's second launch from the desktop would.
    ToolResult run(const fs::path& program) {
        return PosixToolRunner().run("/usr/bin/timeout", {"60", program.string()},
                                     ToolErrorOutput::Discard);
    }

    ~Session() {
        for (const auto& process : running_) {
            process->terminate();
        }
        waitUntil([this] {
            return std::none_of(running_.begin(), running_.end(),
                                [](const auto& process) { return process->isRunning(); });
        });
    }

    TemporaryFolder home;

  private:
    ScopedEnvironment runtime_, home_, config_, data_, state_, platform_;
    std::vector<std::shared_ptr<ChildProcess>> running_;
    int started_ = 0;
};

TEST(SingleInstance, EveryLaterLaunchReopensTheRunningOneOnce) {
    Session session;
    auto first = session.start(SINGLE_INSTANCE_PROBE);
    ASSERT_TRUE(waitUntil([&] { return first.said("running"); })) << readFile(first.output);

    for (int reopen = 1; reopen <= 3; ++reopen) {
        const ToolResult later = session.run(SINGLE_INSTANCE_PROBE);
        EXPECT_EQ(later.exitStatus, 0);
        EXPECT_EQ(later.output, "handed over\n");
        EXPECT_TRUE(waitUntil([&] { return first.said("reopen " + std::to_string(reopen)); }));
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(first.lines(),
              (std::vector<std::string>{"running", "reopen 1", "reopen 2", "reopen 3"}));
    EXPECT_TRUE(first.process->isRunning());
}

TEST(SingleInstance, LaunchesAtTheSameMomentLeaveOneCompanion) {
    Session session;
    std::vector<Session::Running> launches;
    for (int i = 0; i < 4; ++i) {
        launches.push_back(session.start(SINGLE_INSTANCE_PROBE));
    }
    const auto stillRunning = [&] {
        return std::count_if(launches.begin(), launches.end(),
                             [](const auto& launch) { return launch.process->isRunning(); });
    };
    ASSERT_TRUE(waitUntil([&] { return stillRunning() == 1; }, 30));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(stillRunning(), 1);
    for (const auto& launch : launches) {
        if (launch.process->isRunning()) {
            EXPECT_TRUE(waitUntil([&] { return launch.said("reopen 3"); }))
                << readFile(launch.output);
            EXPECT_EQ(launch.lines().front(), "running");
        } else {
            EXPECT_EQ(launch.lines(), std::vector<std::string>{"handed over"});
        }
    }
}

TEST(SingleInstance, ACrashedCompanionIsReplacedEvenWhileWhatItStartedRuns) {
    Session session;
    auto crashed = session.start(SINGLE_INSTANCE_PROBE, {"--with-child"});
    ASSERT_TRUE(waitUntil([&] { return crashed.said("running"); })) << readFile(crashed.output);
    const std::string childLine = crashed.lines().front();
    ASSERT_EQ(childLine.rfind("child ", 0), 0u) << childLine;
    const pid_t child = std::stoi(childLine.substr(6));

    ::kill(crashed.process->processIdentifier(), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !crashed.process->isRunning(); }));
    EXPECT_TRUE(fs::exists(fs::symlink_status(session.socket()))) << "the socket stays behind";

    auto next = session.start(SINGLE_INSTANCE_PROBE);
    EXPECT_TRUE(waitUntil([&] { return next.said("running"); })) << readFile(next.output);
    const ToolResult later = session.run(SINGLE_INSTANCE_PROBE);
    EXPECT_EQ(later.exitStatus, 0);
    EXPECT_TRUE(waitUntil([&] { return next.said("reopen 1"); }));

    ::kill(child, SIGKILL);
}

// The companion itself: a second launch ends at once and leaves the first running. Its
// resources are empty, so no daemon starts and the first waits in its missing-binary alert,
// which must not keep it from taking the reopen.
TEST(SingleInstance, TheCompanionHandsASecondLaunchToTheFirst) {
    Session session;
    const fs::path app = session.home.path() / "Orvane Pelix Companion";
    fs::create_directories(app / "bin");
    fs::create_directories(app / "Resources");
    const fs::path companion = app / "bin/orvane-pelix-companion";
    fs::copy_file(COMPANION_EXECUTABLE, companion);

    auto first = session.start(companion);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(session.socket()); })) << readFile(first.output);
    const ToolResult second = session.run(companion);
    EXPECT_EQ(second.exitStatus, 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(first.process->isRunning());
}

}  // namespace
}  // namespace companion::testing
