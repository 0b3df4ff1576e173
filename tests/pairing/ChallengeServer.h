#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace companion::testing {

// What the stand-in daemon saw of one request.
struct ChallengeRequest {
    std::string method;
    std::string path;
    std::string contentType;
    std::string body;
    std::string remoteAddress;
};

// The daemon's fixed port.
inline constexpr int kDaemonPort = 50051;

// A stand-in for the daemon's challenge endpoint on 127.0.0.1 and the daemon's fixed port. The
// port is shared with every other test on this machine, so taking it waits for it to be free.
class ChallengeServer {
  public:
    // Answers every request with the status after the delay.
    explicit ChallengeServer(int status, std::chrono::milliseconds delay = {});
    // Stops listening and waits for answers still being made.
    ~ChallengeServer();
    ChallengeServer(const ChallengeServer&) = delete;
    ChallengeServer& operator=(const ChallengeServer&) = delete;

    std::vector<ChallengeRequest> requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds the daemon's port bound without listening, so a connection there is refused at once
// whatever else runs on this machine. Released on destruction.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

  private:
    int socket_ = -1;
};

}  // namespace companion::testing
