#include "platform/posix/Spawn.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace companion {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int FileDescriptor::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

int makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errno;
    }
    pipe.readEnd.reset(fds[0]);
    pipe.writeEnd.reset(fds[1]);
    return 0;
}

namespace {

// Runs in the child between fork and exec, where only async-signal-safe calls are allowed: all
// it needs was prepared before the fork.
[[noreturn]] void execInChild(const SpawnRequest& request, char* const* argv, pid_t parent,
                              int reportError) {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &defaultAction, nullptr);  // fails harmlessly for KILL and STOP
    }
    // The parent may have died before the request took hold; then nobody would send it.
    if (request.terminateWithParent &&
        (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent)) {
        ::_exit(127);
    }
    if ((request.standardOutput >= 0 && ::dup2(request.standardOutput, STDOUT_FILENO) < 0) ||
        (request.standardError >= 0 && ::dup2(request.standardError, STDERR_FILENO) < 0)) {
        const int error = errno;
        (void)!::write(reportError, &error, sizeof error);
        ::_exit(127);
    }
    // Everything else closes on exec, including the error report once exec succeeds.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv, environ);
    const int error = errno;
    (void)!::write(reportError, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

SpawnResult spawnProgram(const SpawnRequest& request) {
    const std::string executable = request.executable.string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : request.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    Pipe report;
    if (const int error = makePipe(report)) {
        return {-1, error};
    }

    // Blocked across the fork so that none of the companion's handlers runs in the child.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        execInChild(request, argv.data(), parent, report.writeEnd.get());
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        return {-1, forkError};
    }
    // The child's copy of the write end goes at its exec, so end of file means it started.
    report.writeEnd.reset();
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(report.readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got == sizeof error) {
        waitForChild(pid);
        return {-1, error};
    }
    return {pid, 0};
}

int waitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string describeSpawnError(const std::filesystem::path& executable, int error) {
    return "The program \u201c" + executable.string() +
           "\u201d could not be started: " + std::strerror(error) + ".";
}

}  // namespace companion
