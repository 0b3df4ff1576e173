#include "Daemon.h"

#include <httplib.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "EventStore.h"
#include "HttpApi.h"
#include "Identity.h"
#include "LanReader.h"
#include "LanWatcher.h"
#include "Log.h"
#include "PairingFile.h"

namespace tarvelind {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::seconds(5);
constexpr auto kSnapshotInterval = std::chrono::hours(1);
// The companion expects the port to be free within about a second of SIGTERM, and kills the
// capture variant outright after five.
constexpr auto kShutdownBudget = std::chrono::milliseconds(500);
// Raised by a worker thread to wake the main thread when the daemon cannot go on.
constexpr int kFailureSignal = SIGUSR1;

std::string endpointText(const Options& options) {
    bool v6 = options.bindHost.find(':') != std::string::npos;
    return (v6 ? "[" + options.bindHost + "]" : options.bindHost) + ":" +
           std::to_string(options.port);
}

/// The HTTP library only says that binding failed; a bind of our own finds out why.
std::string bindFailureReason(const Options& options) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string port = std::to_string(options.port);
    if (getaddrinfo(options.bindHost.c_str(), port.c_str(), &hints, &found) != 0) {
        return "the address cannot be resolved";
    }
    std::string reason = "the socket could not be set up";
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 1) != 0) {
            reason = errnoText();
        }
        close(fd);
    }
    freeaddrinfo(found);
    return reason;
}

/// A thread whose end can be awaited with a deadline, so that one stuck connection cannot hold
/// up the exit.
class Worker {
  public:
    explicit Worker(std::function<void()> body)
        : finished_(done_.get_future()), thread_([this, body = std::move(body)] {
              body();
              done_.set_value();
          }) {}

    bool joinBy(Clock::time_point deadline) {
        if (finished_.wait_until(deadline) != std::future_status::ready)
            return false;
        thread_.join();
        return true;
    }

  private:
    std::promise<void> done_;
    std::future<void> finished_;
    std::thread thread_;
};

/// Why the daemon has to stop, set once by whichever worker fails first.
class FailureReport {
  public:
    void report(const std::string& message) {
        {
            std::lock_guard lock(mutex_);
            if (message_.empty())
                message_ = message;
        }
        pthread_kill(mainThread_, kFailureSignal);
    }
    std::string message() {
        std::lock_guard lock(mutex_);
        return message_;
    }

  private:
    pthread_t mainThread_ = pthread_self();
    std::mutex mutex_;
    std::string message_;
};

/// Blocks until SIGTERM, SIGINT or a reported failure; returns the exit status.
int waitForStop(const sigset_t& signals, FailureReport& failure) {
    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            continue;
        if (received == kFailureSignal) {
            std::string message = failure.message();
            if (message.empty())
                continue;  // someone else's SIGUSR1
            logLine("stopping: " + message);
            return 1;
        }
        logLine(std::string("stopping on ") + (received == SIGTERM ? "SIGTERM" : "SIGINT"));
        return 0;
    }
}

int startupFailure(const std::string& message) {
    logLine("cannot start: " + message);
    return 1;
}

}  // namespace

int runDaemon(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine commandLine = parseCommandLine(args);
    if (!commandLine.options) {
        std::fprintf(stderr, "%s\n", commandLine.message.c_str());
        return commandLine.exitStatus;
    }
    const Options& options = *commandLine.options;

    // Blocked before any thread exists, so every thread inherits the mask and the signals are
    // taken only by sigwait on this thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, kFailureSignal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    logLine(std::string("tarvelind ") + TARVELIND_VERSION + " starting" +
            (options.allowCapture ? " with packet capture allowed" : ""));

    std::error_code ec;
    std::filesystem::create_directories(options.configDir, ec);
    if (ec || !std::filesystem::is_directory(options.configDir)) {
        return startupFailure("cannot use the config directory " + options.configDir.string() +
                              (ec ? ": " + ec.message() : ": not a directory"));
    }
    const auto owner = ownerForFilesIn(options.configDir);

    std::string error;
    auto identity = loadOrCreateIdentity(options.configDir, owner, error);
    if (!identity)
        return startupFailure(error);

    PairingIssuer pairing(options.pairingCodeFile, identity->fingerprint, owner);
    httplib::Server server;
    configureHttpServer(server, pairing, identity->fingerprint, options.allowCapture);
    // Bound before anything is written, so a second daemon on a taken port leaves the running
    // one's pairing code and store alone.
    if (!server.bind_to_port(options.bindHost, options.port)) {
        return startupFailure("cannot listen on " + endpointText(options) + ": " +
                              bindFailureReason(options));
    }

    auto store = EventStore::open(options.configDir / "events.sqlite", owner, error);
    if (!store)
        return startupFailure(error);
    if (auto failed = store->record("companion.started", "info",
                                    std::string("tarvelind ") + TARVELIND_VERSION +
                                        " started, serving on " + endpointText(options) + ".")) {
        return startupFailure(*failed);
    }
    if (options.allowCapture) {
        if (auto failed = store->record("capture.start", "notice",
                                        "Packet capture is allowed for this run of the daemon.")) {
            return startupFailure(*failed);
        }
    }
    LanWatcher watcher(*store, readLanView, kPollInterval, kSnapshotInterval);
    if (auto failed = watcher.recordBaseline())
        return startupFailure(*failed);
    // Last of the start-up steps, so a daemon that cannot start leaves the pairing file alone.
    if (auto issued = pairing.issue(); !issued.issuedAt) {
        return startupFailure("cannot write the pairing file: " + issued.error);
    }

    FailureReport failure;
    std::atomic<bool> stopping{false};
    Worker serving([&] {
        server.listen_after_bind();
        if (!stopping)
            failure.report("the HTTP server stopped unexpectedly");
    });
    Worker watching([&] {
        if (auto failed = watcher.run())
            failure.report(*failed);
    });
    logLine("listening on " + endpointText(options) + ", pairing file " +
            options.pairingCodeFile.string());

    const int status = waitForStop(signals, failure);
    stopping = true;
    const auto deadline = Clock::now() + kShutdownBudget;
    watcher.requestStop();
    bool served = false;
    // stop() does nothing until the server loop has started, so it is repeated until it ends.
    do {
        server.stop();
        served = serving.joinBy(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
    } while (!served && Clock::now() < deadline);
    bool watched = watching.joinBy(deadline);

    if (!served || !watched) {
        // A connection or a store write is stuck; the kernel closes the socket and SQLite's
        // journal keeps the store whole, so leaving without the threads is safe.
        logLine("stopped without waiting for unfinished work");
        std::fflush(stdout);
        _exit(status);
    }
    store.reset();
    logLine("stopped");
    return status;
}

}  // namespace tarvelind
