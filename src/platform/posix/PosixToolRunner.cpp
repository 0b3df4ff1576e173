#include "platform/posix/PosixToolRunner.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <optional>

#include "platform/posix/Spawn.h"

namespace companion {

namespace {

// Reads both pipes until each reaches its end, keeping only the output, so neither can fill up
// and stall the tool. Answers false when the output could not be read to its end.
bool drain(FileDescriptor& output, FileDescriptor& discarded, std::string& collected) {
    bool complete = true;
    char buffer[65536];
    while (output || discarded) {
        pollfd fds[2];
        nfds_t count = 0;
        FileDescriptor* owners[2];
        for (FileDescriptor* fd : {&output, &discarded}) {
            if (*fd) {
                fds[count] = {fd->get(), POLLIN, 0};
                owners[count++] = fd;
            }
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Closing our ends lets a tool still writing fail instead of blocking the wait.
            output.reset();
            discarded.reset();
            return false;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                if (owners[i] == &output) {
                    collected.append(buffer, static_cast<size_t>(got));
                }
            } else if (got == 0 || errno != EINTR) {
                complete = complete && (got == 0 || owners[i] != &output);
                owners[i]->reset();
            }
        }
    }
    return complete;
}

// The child's exit status, or nothing when it ended by a signal or its status was lost (a
// process that ignores SIGCHLD has its children reaped by the system, and waitpid then fails).
std::optional<int> exitStatusOf(pid_t pid) {
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != pid || !WIFEXITED(status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

}  // namespace

ToolResult PosixToolRunner::run(const std::filesystem::path& tool,
                                const std::vector<std::string>& arguments,
                                ToolErrorOutput errorOutput) {
    ToolResult result;
    Pipe output;
    Pipe errors;
    if (int error = makePipe(output); error != 0) {
        result.launchError = describeSpawnError(tool, error);
        return result;
    }
    const bool merge = errorOutput == ToolErrorOutput::MergeWithOutput;
    if (!merge) {
        if (int error = makePipe(errors); error != 0) {
            result.launchError = describeSpawnError(tool, error);
            return result;
        }
    }
    const SpawnResult spawned =
        spawnProgram({tool, arguments, output.writeEnd.get(),
                      merge ? output.writeEnd.get() : errors.writeEnd.get()});
    // Our copies of the write ends must go, or the reads below never see the end.
    output.writeEnd.reset();
    errors.writeEnd.reset();
    if (spawned.error != 0) {
        result.launchError = describeSpawnError(tool, spawned.error);
        return result;
    }
    const bool complete = drain(output.readEnd, errors.readEnd, result.output);
    result.exitStatus = exitStatusOf(spawned.pid);
    // Output cut short must not pass for a tool's whole answer.
    if (!complete) {
        result.exitStatus.reset();
    }
    return result;
}

}  // namespace companion
