#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/posix/Spawn.h"

class QSocketNotifier;

namespace companion {

// One companion per user, as one application per user on macOS: the first launch holds a lock
// in the user's runtime folder and listens on a local socket beside it; a later launch hands
// the running one "reopen", waits for its "ok" and ends, so only one companion ever supervises
// the daemon. A socket left behind by a companion that crashed is replaced by the next one.
// Plain local sockets watched by the event loop: Qt's own would load its network library, and
// with it Kerberos and the proxy resolver, into every launch. Main thread only.
class SingleInstance {
  public:
    enum class Claim {
        // This process is the companion; later launches reach it through the reopen handler.
        Running,
        // Another companion runs and has taken the reopen; this launch is done.
        HandedOver,
        // Another companion holds the lock but did not take the reopen in time.
        NoAnswer,
    };

    // $XDG_RUNTIME_DIR (Qt checks that it is the user's own), or nothing when there is none.
    static std::optional<std::filesystem::path> runtimeFolder();

    explicit SingleInstance(std::optional<std::filesystem::path> folder = runtimeFolder(),
                            std::chrono::milliseconds answerTimeout = std::chrono::seconds(10));
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Decides whether this process is the companion. Blocks for at most the answer timeout
    // while another one is starting, quitting or busy. Without a runtime folder there is no
    // place to meet and the answer is Running.
    Claim claim();

    // Runs on the main thread for every reopen another launch hands over, after that launch
    // has been answered, so an alert the handler shows keeps nobody waiting.
    void setReopenHandler(std::function<void(bool hasVisibleWindows)> handler);

  private:
    enum class HandOver { NobodyListens, Taken, NotTaken };

    bool tryLock();
    void listen();
    void accept();
    void receive(int connection);
    HandOver handOver(std::chrono::steady_clock::time_point deadline) const;

    std::optional<std::filesystem::path> folder_;
    std::chrono::milliseconds answerTimeout_;
    FileDescriptor lockFd_;
    FileDescriptor serverFd_;
    std::unique_ptr<QSocketNotifier> server_;
    // Each connection's notifier and what it has sent so far, until it has said its line.
    struct Connection;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::function<void(bool)> reopenHandler_;
};

}  // namespace companion
