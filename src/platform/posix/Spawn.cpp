#include "platform/posix/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
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

SpawnResult spawnProgram(const SpawnRequest& request) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (request.standardOutput >= 0) {
        posix_spawn_file_actions_adddup2(&actions, request.standardOutput, STDOUT_FILENO);
    }
    if (request.standardError >= 0) {
        posix_spawn_file_actions_adddup2(&actions, request.standardError, STDERR_FILENO);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    const std::string executable = request.executable.string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : request.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    SpawnResult result;
    result.error =
        ::posix_spawn(&result.pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result.error != 0) {
        result.pid = -1;
    }
    return result;
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
