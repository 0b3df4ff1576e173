#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace companion {

using WallClock = std::chrono::system_clock;
using MonotonicClock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A one-shot task waiting on the main queue. Cancelling it before it runs guarantees it never
// runs; cancelling one that already ran, or was cancelled before, has no effect.
class ScheduledTask {
  public:
    virtual ~ScheduledTask() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

// The main thread's queue and the clocks the core reads. Everything that touches the
// application's state runs on this queue.
class MainQueue {
  public:
    virtual ~MainQueue() = default;

    // Runs the task on the main thread soon, after what is already queued. The only member that
    // may be called from any thread; posting after the event loop has ended drops the task.
    virtual void post(std::function<void()> task) = 0;

    // Runs the task on the main thread once the delay has passed on the monotonic clock. Tasks
    // run in deadline order. Main thread only.
    virtual std::shared_ptr<ScheduledTask> postAfter(Seconds delay, std::function<void()> task) = 0;

    virtual MonotonicClock::time_point monotonicNow() const = 0;
    virtual WallClock::time_point wallNow() const = 0;
};

}  // namespace companion
