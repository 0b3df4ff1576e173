#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/CompanionAppDelegate.h"

namespace companion {

namespace {

// Shared by the waiting caller and the request's completion, so a completion that arrives after
// the caller gave up still writes into live memory.
struct ReplyCell {
    std::mutex mutex;
    std::condition_variable signalled;
    bool answered = false;
    std::optional<std::string> failure;
};

std::optional<std::string> refreshFailure(const HttpOutcome& outcome) {
    if (outcome.error) {
        return outcome.error;
    }
    // An answer that is not HTTP has no status to object to.
    if (!outcome.status || (*outcome.status >= 200 && *outcome.status <= 299)) {
        return std::nullopt;
    }
    return "Companion returned HTTP " + std::to_string(*outcome.status) + ".";
}

}  // namespace

std::optional<std::string> CompanionAppDelegate::refreshPairingCode() const {
    const HttpRequest request{
        .url = "http://127.0.0.1:" + port + "/v1/pairing/challenge",
        .method = "POST",
        .headers = {{"Content-Type", "application/json"}},
        .body = "{}",
        .timeoutSeconds = 60.0,
    };
    auto cell = std::make_shared<ReplyCell>();
    const bool sent = platform.httpClient->send(request, [cell](HttpOutcome outcome) {
        {
            std::lock_guard lock(cell->mutex);
            cell->failure = refreshFailure(outcome);
            cell->answered = true;
        }
        cell->signalled.notify_one();
    });
    if (!sent) {
        return "Internal companion URL is invalid.";
    }

    // The request keeps its own longer timeout; only the main thread's wait is capped, so a late
    // answer lands in the cell after nobody reads it any more.
    std::unique_lock lock(cell->mutex);
    if (!cell->signalled.wait_for(lock, std::chrono::seconds(1), [&] { return cell->answered; })) {
        return "Timed out waiting for the local daemon on port " + port + ".";
    }
    return cell->failure;
}

}  // namespace companion
