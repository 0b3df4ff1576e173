#include "platform/posix/PosixProcessLauncher.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/Files.h"
#include "platform/posix/Spawn.h"

namespace companion {

namespace {

class PosixChildProcess : public ChildProcess,
                          public std::enable_shared_from_this<PosixChildProcess> {
  public:
    explicit PosixChildProcess(pid_t pid) : pid_(pid) {}

    bool isRunning() const override { return !reaped_.load(); }

    void terminate() override {
        // Holding the lock keeps the waiter from reaping between the check and the signal, so
        // the number can never have been handed to another process yet.
        std::lock_guard lock(mutex_);
        if (!reaped_.load()) {
            ::kill(pid_, SIGTERM);
        }
    }

    int processIdentifier() const override { return pid_; }

    void watch(TerminationHandler onTermination) {
        std::thread([self = shared_from_this(), onTermination = std::move(onTermination)] {
            self->awaitExit();
            onTermination(self);
        }).detach();
    }

  private:
    void awaitExit() {
        // Wait without reaping first, then reap under the lock that terminate() takes.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        std::lock_guard lock(mutex_);
        waitForChild(pid_);
        reaped_.store(true);
    }

    const pid_t pid_;
    std::mutex mutex_;
    std::atomic<bool> reaped_{false};
};

}  // namespace

LaunchResult PosixProcessLauncher::launch(const LaunchRequest& request,
                                          TerminationHandler onTermination) {
    FileDescriptor output(::open(request.outputFile.c_str(), O_WRONLY | O_CLOEXEC));
    if (!output || ::lseek(output.get(), 0, SEEK_END) < 0) {
        std::error_code error(errno, std::generic_category());
        return describeFileError("Could not open the log", request.outputFile, error);
    }
    const SpawnResult spawned =
        spawnProgram({request.executable, request.arguments, output.get(), output.get(),
                      request.terminateWithCompanion});
    if (spawned.error != 0) {
        return describeSpawnError(request.executable, spawned.error);
    }
    auto process = std::make_shared<PosixChildProcess>(spawned.pid);
    process->watch(std::move(onTermination));
    return process;
}

}  // namespace companion
