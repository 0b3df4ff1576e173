#pragma once

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>

namespace companion {

// Waits until the descriptor is ready for the events; false once the deadline has passed. An
// error on the descriptor counts as ready: the next call on it reports the error.
inline bool waitUntilReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd ready{.fd = fd, .events = events, .revents = 0};
        const int got =
            ::poll(&ready, 1, left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count()));
        if (got > 0 || (got < 0 && errno != EINTR)) {
            return true;
        }
    }
}

}  // namespace companion
