#include "daemon/RestartPolicy.h"

#include "daemon/SupervisionFixture.h"

namespace companion::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RestartPolicy, PrunesExitsAWholeWindowOldOrOlder) {
    const WallClock::time_point now{seconds(1'000'000)};
    std::vector<WallClock::time_point> failures = {now - seconds(61), now - seconds(60),
                                                   now - milliseconds(59'999), now - seconds(1),
                                                   now + seconds(5)};
    EXPECT_EQ(pruneRestartFailures(failures, now, 60.0), 3u);
    EXPECT_EQ(failures, (std::vector<WallClock::time_point>{now - milliseconds(59'999),
                                                            now - seconds(1), now + seconds(5)}));
}

TEST(RestartPolicy, DelaysDoubleUpToHalfAMinute) {
    const double expected[] = {1, 2, 4, 8, 16, 30, 30};
    for (std::size_t n = 0; n < std::size(expected); ++n) {
        EXPECT_EQ(restartDelay(n), expected[n]) << n;
    }
    EXPECT_EQ(repeatedCrashesText(5, 60.0),
              "The local daemon exited more than 5 times in 60 seconds. Check the companion logs, "
              "then choose Start Companion to try again.");
}

TEST_F(Supervision, RestartsACrashingDaemonWithGrowingDelaysThenGivesUp) {
    installDaemon("exit 1");
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    int launched = 1;
    for (double delay : {1.0, 2.0, 4.0, 8.0, 16.0}) {
        awaitExit();
        ASSERT_EQ(env.queue->nextTimerDelay(), delay);
        env.queue->advance(delay - 0.01);
        EXPECT_NEAR(env.queue->nextTimerDelay().value_or(0), 0.01, 1e-6) << "restarted early";
        env.queue->advance(0.01);
        EXPECT_TRUE(awaitLaunches(++launched));
    }
    env.ui->expectAlert("Companion stopped after repeated crashes");
    awaitExit();
    EXPECT_EQ(env.ui->alerts.back().informativeText,
              "The local daemon exited more than 5 times in 60 seconds. Check the companion logs, "
              "then choose Start Companion to try again.");
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_TRUE(delegate->daemonRestartFailures.empty());
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Stopped");
    env.queue->advance(120);
    EXPECT_FALSE(delegate->daemon);
    EXPECT_TRUE(awaitLaunches(6));

    // Start Companion begins anew, with five more restarts allowed.
    delegate->restartDaemon();
    awaitExit();
    EXPECT_EQ(env.queue->nextTimerDelay(), 1.0);
}

TEST_F(Supervision, ThirtySecondsOfStableRunningClearTheCount) {
    const auto stable = env.home.path() / "stable";
    installDaemon("[ -e '" + stable.string() + "' ] && exec sleep 60\nexit 1");
    delegate->startDaemon();
    awaitExit();
    env.queue->advance(1);
    awaitExit();
    EXPECT_EQ(delegate->daemonRestartFailures.size(), 2u);

    writeFile(stable, "");
    env.queue->advance(2);
    ASSERT_TRUE(launchedAndRunning());
    env.queue->advance(29.9);
    EXPECT_EQ(delegate->daemonRestartFailures.size(), 2u);
    env.queue->advance(0.1);
    EXPECT_TRUE(delegate->daemonRestartFailures.empty());

    delegate->daemon->terminate();
    awaitExit();
    EXPECT_EQ(env.queue->nextTimerDelay(), 1.0);
}

TEST_F(Supervision, ADaemonThatEndsBeforeItsStabilityCheckKeepsTheCount) {
    const auto crash = env.home.path() / "crash";
    installDaemon("[ -e '" + crash.string() + "' ] && exit 1\nexec sleep 60");
    delegate->startDaemon();
    delegate->daemon->terminate();
    awaitExit();
    writeFile(crash, "");
    env.queue->advance(1);
    awaitExit();
    std::filesystem::remove(crash);
    env.queue->advance(2);
    ASSERT_TRUE(launchedAndRunning());
    EXPECT_EQ(delegate->daemonRestartFailures.size(), 2u);
}

TEST_F(Supervision, ExitsMoreThanAMinuteApartNeverGiveUp) {
    installDaemon("exec sleep 600");
    delegate->startDaemon();
    for (int i = 0; i < 8; ++i) {
        // Each exit comes within seconds of its launch, long before a stability check, but a
        // minute of wall-clock time after the previous exit.
        env.queue->setWallClock(env.queue->wallNow() + std::chrono::seconds(61));
        delegate->daemon->terminate();
        awaitExit();
        EXPECT_EQ(env.queue->nextTimerDelay(), 1.0) << i;
        env.queue->advance(1);
        ASSERT_TRUE(launchedAndRunning()) << i;
    }
    EXPECT_TRUE(delegate->daemonShouldRestart);
}

TEST_F(Supervision, AStopCancelsThePendingRestart) {
    installDaemon("exit 1");
    delegate->startDaemon();
    awaitExit();
    ASSERT_EQ(env.queue->nextTimerDelay(), 1.0);
    delegate->stopDaemon();
    env.queue->advance(60);
    EXPECT_FALSE(delegate->daemon);
    EXPECT_TRUE(awaitLaunches(1));
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_TRUE(delegate->daemonRestartFailures.empty());
}

TEST_F(Supervision, RestartingSixTimesWithinAMinuteGivesUpButKeepsTheNewestDaemon) {
    installDaemon("exec sleep 60");
    delegate->startDaemon();
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(awaitLaunches(i));
        delegate->restartDaemon();
        awaitExit();
        env.queue->advance(5);
    }
    ASSERT_TRUE(awaitLaunches(6));
    env.ui->expectAlert("Companion stopped after repeated crashes");
    delegate->restartDaemon();
    awaitExit();
    EXPECT_TRUE(launchedAndRunning());
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_TRUE(awaitLaunches(7));
}

}  // namespace
}  // namespace companion::testing
