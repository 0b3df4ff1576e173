#include "platform/qt/TerminationSignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace companion {

namespace {

sigset_t terminationSignals() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&blocked, signal);
    }
    return blocked;
}

}  // namespace

TerminationSignals::TerminationSignals() {
    const sigset_t blocked = terminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    descriptor_ = ::signalfd(-1, &blocked, SFD_CLOEXEC | SFD_NONBLOCK);
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

void TerminationSignals::onSignal(std::function<void()> handler) {
    if (descriptor_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [fd = descriptor_, handler = std::move(handler)] {
                         signalfd_siginfo info;
                         while (::read(fd, &info, sizeof info) == sizeof info) {
                             handler();
                         }
                     });
}

}  // namespace companion
