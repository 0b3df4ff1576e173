#include "support/ManualMainQueue.h"

#include <chrono>

namespace companion::testing {

struct ManualMainQueue::Timer : ScheduledTask {
    std::function<void()> task;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
    bool isCancelled() const override { return cancelled; }
};

ManualMainQueue::ManualMainQueue()
    : monotonic_(MonotonicClock::time_point(std::chrono::hours(1000))),
      wall_(WallClock::time_point(std::chrono::seconds(1'800'000'000))) {}

void ManualMainQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        posts_.push_back(std::move(task));
    }
    posted_.notify_all();
}

std::shared_ptr<ScheduledTask> ManualMainQueue::postAfter(Seconds delay,
                                                          std::function<void()> task) {
    auto timer = std::make_shared<Timer>();
    timer->task = std::move(task);
    std::lock_guard lock(mutex_);
    const auto deadline = monotonic_ + std::chrono::duration_cast<MonotonicClock::duration>(delay);
    timers_.emplace(deadline, timer);
    return timer;
}

MonotonicClock::time_point ManualMainQueue::monotonicNow() const {
    std::lock_guard lock(mutex_);
    return monotonic_;
}

WallClock::time_point ManualMainQueue::wallNow() const {
    std::lock_guard lock(mutex_);
    return wall_;
}

int ManualMainQueue::runPosted() {
    int ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (posts_.empty()) {
                return ran;
            }
            task = std::move(posts_.front());
            posts_.pop_front();
        }
        task();
        ++ran;
    }
}

void ManualMainQueue::advance(double seconds) {
    runPosted();
    const auto end =
        monotonicNow() + std::chrono::duration_cast<MonotonicClock::duration>(Seconds(seconds));
    for (;;) {
        std::shared_ptr<Timer> due;
        {
            std::lock_guard lock(mutex_);
            auto next = timers_.begin();
            if (next == timers_.end() || next->first > end) {
                wall_ += end - monotonic_;
                monotonic_ = end;
                break;
            }
            wall_ += next->first - monotonic_;
            monotonic_ = next->first;
            due = next->second;
            timers_.erase(next);
        }
        if (!due->cancelled) {
            due->task();
        }
        runPosted();
    }
    runPosted();
}

bool ManualMainQueue::runUntil(const std::function<bool()>& condition, double limitSeconds) {
    const auto limit = std::chrono::steady_clock::now() + Seconds(limitSeconds);
    for (;;) {
        runPosted();
        if (condition()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, limit, [this] { return !posts_.empty(); })) {
            return false;
        }
    }
}

void ManualMainQueue::setWallClock(WallClock::time_point now) {
    std::lock_guard lock(mutex_);
    wall_ = now;
}

std::size_t ManualMainQueue::pendingTimers() const {
    std::lock_guard lock(mutex_);
    std::size_t live = 0;
    for (const auto& [deadline, timer] : timers_) {
        live += timer->cancelled ? 0 : 1;
    }
    return live;
}

std::optional<double> ManualMainQueue::nextTimerDelay() const {
    std::lock_guard lock(mutex_);
    for (const auto& [deadline, timer] : timers_) {
        if (!timer->cancelled) {
            return Seconds(deadline - monotonic_).count();
        }
    }
    return std::nullopt;
}

}  // namespace companion::testing
