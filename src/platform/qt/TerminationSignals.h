#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace companion {

// SIGTERM (a logout, `kill`), SIGINT and SIGHUP (a terminal that closes) are asked to end the
// companion the way its Quit command does, on the main thread, so its daemon is stopped instead
// of left running on the port.
class TerminationSignals {
  public:
    // Blocks the three signals; made first thing in main, before any thread exists, so every
    // thread inherits the block and the signals wait for the event loop instead.
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Once the application object exists: runs `handler` for each signal that arrives.
    void onSignal(std::function<void()> handler);

  private:
    int descriptor_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace companion
