#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace companion {

struct ToolResult {
    // The system's description of why the tool could not start; absent when it ran.
    std::optional<std::string> launchError;
    // The exit status when the tool exited normally; absent when a signal ended it, when its
    // status was lost, or when its output could not be read to the end.
    std::optional<int> exitStatus;
    // Standard output, or standard output and standard error in the order written.
    std::string output;

    bool started() const { return !launchError; }
    bool succeeded() const { return started() && exitStatus == 0; }
};

enum class ToolErrorOutput {
    Discard,          // standard error is drained and dropped
    MergeWithOutput,  // standard error joins standard output in one pipe
};

// Runs a tool directly (no shell) to its end. Output is drained while waiting, so a tool that
// writes more than a pipe holds never stalls. Standard input, environment and working directory
// are inherited. Blocks the calling thread; may be called from any thread.
class ToolRunner {
  public:
    virtual ~ToolRunner() = default;
    virtual ToolResult run(const std::filesystem::path& tool,
                           const std::vector<std::string>& arguments,
                           ToolErrorOutput errorOutput) = 0;
};

}  // namespace companion
