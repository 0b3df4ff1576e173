#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <deque>

namespace companion {

// Tasks wait here, not inside Qt's queued call: that call would be let go by whichever thread
// drops the last reference to it, often the poster after the task already ran, so what a task
// holds could be destroyed off the main thread. Qt only carries word that one task is waiting.
struct QtMainQueue::Target {
    std::mutex mutex;
    QPointer<QObject> context;
    std::deque<std::function<void()>> waiting;

    void runOldest() {
        std::unique_lock lock(mutex);
        if (waiting.empty()) {
            return;
        }
        const auto task = std::move(waiting.front());
        waiting.pop_front();
        lock.unlock();
        task();
    }
};

namespace {

// One queued call per posted task, so tasks keep their place among the loop's other events. The
// call is by name and carries no data of ours: the task crosses threads under the target's lock.
class PostedTaskRunner : public QObject {
    Q_OBJECT

  public:
    PostedTaskRunner(QObject* parent, std::function<void()> runOldest)
        : QObject(parent), runOldest_(std::move(runOldest)) {}

    Q_INVOKABLE void runOldest() { runOldest_(); }

  private:
    const std::function<void()> runOldest_;
};

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
    auto* context = new PostedTaskRunner(QCoreApplication::instance(),
                                         [target = target_] { target->runOldest(); });
    target_->context = context;
    QObject::connect(context, &QObject::destroyed, [target = target_] {
        // Declared before the lock, so the tasks go after it is released: what they hold may
        // post again on its way out.
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(target->mutex);
        target->context = nullptr;
        dropped.swap(target->waiting);
    });
}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> task) {
    std::lock_guard lock(target_->mutex);
    if (target_->context) {
        target_->waiting.push_back(std::move(task));
        QMetaObject::invokeMethod(target_->context.data(), "runOldest", Qt::QueuedConnection);
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

#include "QtMainQueue.moc"
