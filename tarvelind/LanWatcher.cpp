#include "LanWatcher.h"

#include "Log.h"

namespace tarvelind {

LanWatcher::LanWatcher(EventStore& store, Reader read, std::chrono::milliseconds pollInterval,
                       std::chrono::milliseconds snapshotInterval)
    : store_(store),
      read_(std::move(read)),
      pollInterval_(pollInterval),
      snapshotInterval_(snapshotInterval) {}

std::optional<std::string> LanWatcher::record(const std::string& kind, const std::string& severity,
                                              const std::string& summary) {
    logLine(kind + ": " + summary);
    return store_.record(kind, severity, summary);
}

std::optional<LanView> LanWatcher::read() {
    LanReading reading = read_();
    // Told once when the reads start failing and once when they work again, however long
    // that lasts.
    if (!reading.view && !unreadable_) {
        logLine("cannot read the network, so its changes are not recorded for now: " +
                reading.failure);
    } else if (reading.view && unreadable_) {
        logLine("the network can be read again");
    }
    unreadable_ = !reading.view;
    return std::move(reading.view);
}

std::optional<std::string> LanWatcher::recordBaseline() {
    last_ = read();
    if (!last_)
        return std::nullopt;
    return record("lan.baseline", "info", "First look at the network: " + describeLanView(*last_));
}

std::optional<std::string> LanWatcher::run() {
    auto lastSnapshot = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, pollInterval_, [this] { return stopping_; })) {
        lock.unlock();
        std::optional<std::string> error;
        if (!last_) {
            error = recordBaseline();
        } else if (auto now = read()) {
            for (const LanEvent& event : diffLanViews(*last_, *now)) {
                if ((error = record(event.kind, event.severity, event.summary)))
                    return error;
            }
            last_ = std::move(now);
            if (std::chrono::steady_clock::now() - lastSnapshot >= snapshotInterval_) {
                lastSnapshot = std::chrono::steady_clock::now();
                error =
                    record("lan.snapshot", "info", "Network snapshot: " + describeLanView(*last_));
            }
        }
        if (error)
            return error;
        lock.lock();
    }
    return std::nullopt;
}

void LanWatcher::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

}  // namespace tarvelind
