#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "platform/MainQueue.h"

namespace companion::testing {

// A main queue on a virtual clock. Tasks run only when the test says so: runPosted() runs what
// was posted, advance() moves both clocks and runs due timers in deadline order, and
// runUntil() lets real worker threads (a child's exit, an HTTP completion) hand its post over.
class ManualMainQueue : public MainQueue {
  public:
    ManualMainQueue();

    void post(std::function<void()> task) override;
    std::shared_ptr<ScheduledTask> postAfter(Seconds delay, std::function<void()> task) override;
    MonotonicClock::time_point monotonicNow() const override;
    WallClock::time_point wallNow() const override;

    // Runs every posted task, including those posted while running; answers how many ran.
    int runPosted();
    // Moves the clocks forward, running posted tasks and every timer that falls due on the way.
    void advance(double seconds);
    // Runs posts as real worker threads (a child's exit, an HTTP completion) hand them over,
    // until the condition holds. The limit only keeps a broken test from hanging: the wait is
    // for the event, however slow the machine. Answers whether the condition came true.
    bool runUntil(const std::function<bool()>& condition, double limitSeconds = 60.0);
    // Sets the wall clock alone, as when the user changes the system time.
    void setWallClock(WallClock::time_point now);

    std::size_t pendingTimers() const;
    // Seconds until the next live timer falls due, if any.
    std::optional<double> nextTimerDelay() const;

  private:
    struct Timer;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> posts_;
    std::multimap<MonotonicClock::time_point, std::shared_ptr<Timer>> timers_;
    MonotonicClock::time_point monotonic_;
    WallClock::time_point wall_;
};

}  // namespace companion::testing
