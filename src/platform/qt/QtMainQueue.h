#pragma once

#include <QObject>
#include <memory>
#include <mutex>

#include "platform/MainQueue.h"

namespace companion {

// The main queue on Qt's event loop. Timers are precise, so restart delays and their order hold.
class QtMainQueue : public MainQueue {
  public:
    QtMainQueue();
    ~QtMainQueue() override;

    void post(std::function<void()> task) override;
    std::shared_ptr<ScheduledTask> postAfter(Seconds delay, std::function<void()> task) override;
    MonotonicClock::time_point monotonicNow() const override { return MonotonicClock::now(); }
    WallClock::time_point wallNow() const override { return WallClock::now(); }

  private:
    struct Target;
    // Shared with posting threads, so a post after the event loop has gone is simply dropped.
    std::shared_ptr<Target> target_;
};

}  // namespace companion
