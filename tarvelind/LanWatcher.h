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

/// Compares successive views of the network and stores every change.
class LanWatcher {
  public:
    using Reader = std::function<LanView()>;

    LanWatcher(EventStore& store, Reader read, std::chrono::milliseconds pollInterval,
               std::chrono::milliseconds snapshotInterval);

    /// Takes the first view and records it as the baseline; returns an error text on failure.
    std::optional<std::string> recordBaseline();

    /// Polls until requestStop(). Returns early with an error text when an event cannot be
    /// stored, because a watcher that silently drops events is worse than none.
    std::optional<std::string> run();

    void requestStop();

  private:
    std::optional<std::string> record(const std::string& kind, const std::string& severity,
                                      const std::string& summary);

    EventStore& store_;
    Reader read_;
    std::chrono::milliseconds pollInterval_;
    std::chrono::milliseconds snapshotInterval_;
    LanView last_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace tarvelind
