#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace companion {

// A child process started by the companion. Recognised by its object, never by its process id.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    // False once the process has ended and been reaped.
    virtual bool isRunning() const = 0;
    // Sends SIGTERM while the process has not been reaped; afterwards does nothing, so a
    // recycled process id is never signalled.
    virtual void terminate() = 0;
    virtual int processIdentifier() const = 0;
};

struct LaunchRequest {
    std::filesystem::path executable;
    std::vector<std::string> arguments;
    // Standard output and standard error both go here, opened for writing at its end.
    // Standard input, environment and working directory are inherited.
    std::filesystem::path outputFile;
    // Ended with SIGTERM by the system should the companion die without stopping it (killed,
    // crashed), so it never outlives the companion holding the port. Launch it from the main
    // thread: the system watches the thread that launched it.
    bool terminateWithCompanion = false;
};

// Called exactly once per process, on a thread of its own, with the process that ended.
using TerminationHandler = std::function<void(const std::shared_ptr<ChildProcess>&)>;

// Either the running process or the system's description of why it could not start.
using LaunchResult = std::variant<std::shared_ptr<ChildProcess>, std::string>;

class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;
    virtual LaunchResult launch(const LaunchRequest& request, TerminationHandler onTermination) = 0;
};

}  // namespace companion
