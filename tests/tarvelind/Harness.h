#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvelind::testing {

/// A folder under /tmp, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

/// A loopback port that nothing listens on at the moment of the call.
int freeLoopbackPort();

std::string readFile(const std::filesystem::path& file);

/// A real child process with its standard output and error in files under `scratch`, killed at
/// the end of the test if it still runs.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::filesystem::path& scratch);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    /// The exit status (-1 for a death by signal), or nothing if still running at the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /// Waits until GET /v1/health answers on `port`; false if the process ended first.
    bool waitUntilServing(int port);
    void signal(int number) const;
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }

  private:
    std::filesystem::path out_, err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

/// The daemon's command line as the companion builds it, on the loopback interface.
std::vector<std::string> daemonCommand(const std::filesystem::path& config, int port,
                                       std::vector<std::string> flags = {});

}  // namespace tarvelind::testing
