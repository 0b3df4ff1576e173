#include <gtest/gtest.h>

#include "daemon/CaptureHelperPid.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

TEST(CaptureHelperPid, ParsesOnlyAWholePositiveProcessId) {
    struct Case {
        std::string text;
        std::optional<long long> pid;
    } cases[] = {
        {"4242\n", 4242},
        {"  \n 4242 \n\n", 4242},
        {"+4242", 4242},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {" \n\t", std::nullopt},
        {"-4242", std::nullopt},
        {"0", std::nullopt},
        {"+", std::nullopt},
        {"4242abc", std::nullopt},
        {"42 42", std::nullopt},
        {"4242\n4243\n", std::nullopt},
        {"0x10", std::nullopt},
        {"\xff\xfe"
         "4242",
         std::nullopt},
        {"\xe2\x80\x83"
         "4242\xc2\xa0",
         4242},  // Unicode spaces trim like ASCII ones
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseCaptureHelperPid(c.text), c.pid) << "'" << c.text << "'";
    }
}

class CaptureHelperPidFile : public ::testing::Test {
  protected:
    fs::path pidFile() const { return env.appSupport() / "capture-helper.pid"; }
    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate = env.makeDelegate();
};

TEST_F(CaptureHelperPidFile, UnusableContentAnswersNothingAndKeepsTheFile) {
    for (const std::string text : {"", "  \n", "-1", "0", "abc", "12 13", "2147483648"}) {
        writeFile(pidFile(), text);
        EXPECT_EQ(delegate->captureHelperPID(), std::nullopt) << text;
        EXPECT_TRUE(fs::exists(pidFile())) << text;
    }
    fs::remove(pidFile());
    fs::create_directories(pidFile());
    EXPECT_EQ(delegate->captureHelperPID(), std::nullopt);
    EXPECT_TRUE(fs::is_directory(pidFile()));
    fs::remove(pidFile());
    EXPECT_EQ(delegate->captureHelperPID(), std::nullopt);
}

TEST_F(CaptureHelperPidFile, ALiveCaptureDaemonCounts) {
    auto helper = startFakeCaptureHelper(env);
    EXPECT_EQ(delegate->captureHelperPID(), helper->processIdentifier());
    EXPECT_TRUE(fs::exists(pidFile()));
    helper->terminate();
}

TEST_F(CaptureHelperPidFile, AGoneOrUnrelatedProcessMakesTheFileStale) {
    auto unrelated = startChild("/bin/sleep", {"30"});
    auto gone = startChild("/bin/true");
    ASSERT_TRUE(waitUntil([&] { return !gone->isRunning(); }));
    for (const auto& process : {unrelated, gone}) {
        writeFile(pidFile(), std::to_string(process->processIdentifier()) + "\n");
        EXPECT_EQ(delegate->captureHelperPID(), std::nullopt);
        EXPECT_FALSE(fs::exists(pidFile()));
    }
    EXPECT_TRUE(unrelated->isRunning()) << "probing must deliver nothing";
    unrelated->terminate();
}

}  // namespace
}  // namespace companion::testing
