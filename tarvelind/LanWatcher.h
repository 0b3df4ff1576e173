#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "EventStore.h"
#include "LanView.h"

namespace tarvelind {

/// Compares successive views of the network and stores every change. A round whose reading
/// failed records nothing: the next good one is compared with the last good one.
class LanWatcher {
  public:
    using Reader = std::function<LanReading()>;

    LanWatcher(EventStore& store, Reader read, std::chrono::milliseconds pollInterval,
               std::chrono::milliseconds snapshotInterval);

    /// Takes the first view and records it as the baseline, or leaves that to the first round
    /// that can read the network; returns an error text when the store fails.
    std::optional<std::string> recordBaseline();

    /// Polls until requestStop(). Returns early with an error text when an event cannot be
    /// stored, because a watcher that silently drops events is worse than none.
    std::optional<std::string> run();

    void requestStop();

  private:
    std::optional<std::string> record(const std::string& kind, const std::string& severity,
                                      const std::string& summary);
    /// The view of this round, or nothing when it could not be read.
    std::optional<LanView> read();

    EventStore& store_;
    Reader read_;
    std::chrono::milliseconds pollInterval_;
    std::chrono::milliseconds snapshotInterval_;
    std::optional<LanView> last_;  // the last view read whole
    bool unreadable_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace tarvelind
