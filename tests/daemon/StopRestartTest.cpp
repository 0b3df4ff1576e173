#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

#include "daemon/SupervisionFixture.h"

namespace companion::testing {
namespace {

TEST_F(Supervision, StopWithoutRestartEndsSupervisionAndTheProcess) {
    installDaemon("exec sleep 60");
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    delegate->daemonRestartFailures.push_back(env.queue->wallNow());
    const auto process = delegate->daemon;

    delegate->stopDaemon();
    EXPECT_FALSE(delegate->daemon);
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_TRUE(delegate->daemonRestartFailures.empty());
    EXPECT_TRUE(delegate->daemonStabilityWorkItem->isCancelled());
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Stopped");
    awaitExit();
    EXPECT_FALSE(process->isRunning());
    env.queue->advance(60);
    EXPECT_FALSE(delegate->daemon) << "a stopped daemon is not restarted";

    // With nothing running, a stop only settles the state and the menu.
    const auto menus = env.ui->statusItem->menus.size();
    delegate->daemonShouldRestart = true;
    delegate->stopDaemon();
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_EQ(env.ui->statusItem->menus.size(), menus + 1);
}

TEST_F(Supervision, RestartKeepsTheCountAndStartsAtOnce) {
    installDaemon("exit 1");
    delegate->startDaemon();
    awaitExit();
    ASSERT_EQ(env.queue->nextTimerDelay(), 1.0);
    installDaemon("exec sleep 60");
    delegate->restartDaemon();
    EXPECT_TRUE(launchedAndRunning());
    EXPECT_TRUE(delegate->daemonRestartWorkItem->isCancelled());
    EXPECT_EQ(delegate->daemonRestartFailures.size(), 1u);
    EXPECT_TRUE(delegate->daemonShouldRestart);
}

TEST_F(Supervision, QuitStopsTheDaemonThenTerminates) {
    installDaemon("exec sleep 60");
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    const auto process = delegate->daemon;
    delegate->quit();
    EXPECT_EQ(env.ui->terminations, 1);
    EXPECT_FALSE(delegate->daemonShouldRestart);
    ASSERT_TRUE(waitUntil([&] { return !process->isRunning(); }));
}

TEST_F(Supervision, LaunchBuildsTheStatusItemStartsTheDaemonAndShowsPairingOnce) {
    installDaemon("exec sleep 60");
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(env.ui->activationPolicySet, 1);
    EXPECT_EQ(env.ui->statusItem->accessibilityDescription, "Orvane Pelix Companion");
    EXPECT_EQ(env.ui->statusItem->symbolName, "antenna.radiowaves.left.and.right");
    EXPECT_EQ(env.ui->statusItem->title, " Pelix");
    EXPECT_TRUE(launchedAndRunning());
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Running");
    EXPECT_FALSE(delegate->didShowInitialPairing);
    env.queue->advance(0.59);
    EXPECT_FALSE(delegate->didShowInitialPairing);
    // The stand-in daemon never answers the pairing challenge.
    env.ui->expectAlert("Pairing code not ready");
    env.queue->advance(0.01);
    EXPECT_TRUE(delegate->didShowInitialPairing);
}

TEST_F(Supervision, TwoRebuildsOfTheSameStateGiveEqualMenus) {
    installDaemon("exec sleep 60");
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    delegate->rebuildMenu();
    delegate->rebuildMenu();
    const auto& menus = env.ui->statusItem->menus;
    EXPECT_EQ(menus.at(menus.size() - 1), menus.at(menus.size() - 2));
    const MenuModel running = menus.back();
    delegate->stopDaemonProcess(false);
    EXPECT_NE(menus.back(), running);
}

TEST_F(Supervision, WaitForPortToCloseReturnsOnceTheListenerGoes) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(50051);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << "port 50051 is taken on this machine";
    ASSERT_EQ(::listen(listener, 1), 0);
    EXPECT_TRUE(delegate->isPortListening());

    std::thread closer([listener] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(listener);
    });
    delegate->waitForPortToClose();
    EXPECT_FALSE(delegate->isPortListening());
    closer.join();
}

}  // namespace
}  // namespace companion::testing
