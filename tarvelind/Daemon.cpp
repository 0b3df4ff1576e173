#include "Daemon.h"

#include <grp.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
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
#include "HttpServer.h"
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

/// A non-blocking socket listening on the address and port of `options`, or -1 and the reason.
int listenOn(const Options& options, std::string& error) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string port = std::to_string(options.port);
    if (getaddrinfo(options.bindHost.c_str(), port.c_str(), &hints, &found) != 0) {
        error = "the address cannot be resolved";
        return -1;
    }
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT. Never
    // SO_REUSEPORT: a second daemon must fail to bind rather than share the traffic.
    int yes = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
        error = errnoText();
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

/// As many open files as the system lets this process have: each connection takes one.
rlim_t raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised{limit.rlim_max, limit.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur;
}

/// The capture variant is started as root; once its files are open, it serves the LAN as the
/// user whose folder it works in, so a flaw in its request handling is never a root flaw. The
/// saved ids go too, so root cannot be taken back.
std::optional<std::string> giveUpRoot(const std::optional<FileOwner>& owner) {
    if (!owner || geteuid() != 0)
        return std::nullopt;
    if (setgroups(1, &owner->gid) != 0 || setresgid(owner->gid, owner->gid, owner->gid) != 0 ||
        setresuid(owner->uid, owner->uid, owner->uid) != 0) {
        return "cannot give up root: " + errnoText();
    }
    return std::nullopt;
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

    const rlim_t descriptors = raiseDescriptorLimit();
    // Bound before anything is written, so a second daemon on a taken port leaves the running
    // one's pairing code and store alone.
    int listening = listenOn(options, error);
    if (listening < 0)
        return startupFailure("cannot listen on " + endpointText(options) + ": " + error);

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
    PairingIssuer pairing(options.pairingCodeFile, identity->fingerprint, owner);
    if (auto issued = pairing.issue(); !issued.issuedAt) {
        return startupFailure("cannot write the pairing file: " + issued.error);
    }
    // Before any thread starts, so that every thread runs without root.
    if (auto failed = giveUpRoot(owner))
        return startupFailure(*failed);

    FailureReport failure;
    HttpApi api(pairing, identity->fingerprint, options.allowCapture);
    auto server = HttpServer::start(
        listening, connectionLimitsFor(descriptors),
        [&api](const HttpRequest& request) { return api.answer(request); },
        [&failure](const std::string& reason) { failure.report(reason); }, error);
    if (!server)
        return startupFailure(error);
    Worker watching([&] {
        if (auto failed = watcher.run())
            failure.report(*failed);
    });
    logLine("listening on " + endpointText(options) + ", pairing file " +
            options.pairingCodeFile.string());

    const int status = waitForStop(signals, failure);
    const auto deadline = Clock::now() + kShutdownBudget;
    watcher.requestStop();
    server.reset();
    if (!watching.joinBy(deadline)) {
        // A store write is stuck; SQLite's journal keeps the store whole, so leaving without
        // the watcher is safe.
        logLine("stopped without waiting for unfinished work");
        std::fflush(stdout);
        _exit(status);
    }
    store.reset();
    logLine("stopped");
    return status;
}

}  // namespace tarvelind
