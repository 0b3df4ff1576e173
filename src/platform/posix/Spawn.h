#pragma once

#include <sys/types.h>
#include <filesystem>
#include <string>
#include <vector>

namespace companion {

// An owned file descriptor, closed when it goes.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    int release();
    void reset(int fd = -1);
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

// Both ends close on exec; the spawn duplicates the write end where the child needs it.
// Answers the error number on failure.
int makePipe(Pipe& pipe);

struct SpawnRequest {
    std::filesystem::path executable;
    std::vector<std::string> arguments;
    int standardOutput = -1;  // -1 inherits
    int standardError = -1;   // -1 inherits
    // The kernel sends the child SIGTERM when the thread that started it ends, so a child that
    // must not outlive the companion is started from its main thread.
    bool terminateWithParent = false;
};

struct SpawnResult {
    pid_t pid = -1;
    int error = 0;  // an errno value when the program could not start
};

// Starts the program directly (no shell, no PATH search), closing every other descriptor in
// the child so it holds nothing of the companion's, with every signal at its default action and
// none blocked, whatever the companion ignores or blocks.
SpawnResult spawnProgram(const SpawnRequest& request);

// Waits for the child and answers its raw wait status, retrying interrupted waits.
int waitForChild(pid_t pid);

// How the user is told that a program could not start.
std::string describeSpawnError(const std::filesystem::path& executable, int error);

}  // namespace companion
