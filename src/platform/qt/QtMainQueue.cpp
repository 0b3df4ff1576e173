#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace companion {

struct QtMainQueue::Target {
    std::mutex mutex;
    QPointer<QObject> context;
};

namespace {

class QtScheduledTask : public ScheduledTask {
  public:
    void cancel() override {
        cancelled_ = true;
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }
    bool isCancelled() const override { return cancelled_; }

    bool cancelled_ = false;
    QPointer<QTimer> timer_;
};

}  // namespace

QtMainQueue::QtMainQueue() : target_(std::make_shared<Target>()) {
    // Parented to the application, so it goes with the event loop on the main thread.
    auto* context = new QObject(QCoreApplication::instance());
    target_->context = context;
    QObject::connect(context, &QObject::destroyed, [target = target_] {
        std::lock_guard lock(target->mutex);
        target->context = nullptr;
    });
}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> task) {
    std::lock_guard lock(target_->mutex);
    if (target_->context) {
        QMetaObject::invokeMethod(target_->context.data(), std::move(task), Qt::QueuedConnection);
    }
}

std::shared_ptr<ScheduledTask> QtMainQueue::postAfter(Seconds delay, std::function<void()> task) {
    auto scheduled = std::make_shared<QtScheduledTask>();
    auto* timer = new QTimer(target_->context.data());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    scheduled->timer_ = timer;
    QObject::connect(
        timer, &QTimer::timeout, timer,
        [timer, weak = std::weak_ptr<QtScheduledTask>(scheduled), task = std::move(task)] {
            timer->deleteLater();
            auto scheduled = weak.lock();
            if (!scheduled || !scheduled->isCancelled()) {
                task();
            }
        });
    timer->start(std::chrono::milliseconds(static_cast<long long>(delay.count() * 1000.0 + 0.5)));
    return scheduled;
}

}  // namespace companion
