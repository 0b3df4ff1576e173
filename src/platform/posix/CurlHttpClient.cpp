#include "platform/posix/CurlHttpClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <thread>

namespace companion {

namespace {

struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// The answer's body plays no part for any caller; it is read and dropped.
size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

HttpOutcome perform(const HttpRequest& request, CurlUrl url) {
    CurlEasy handle(curl_easy_init());
    if (!handle) {
        return {.error = "The HTTP client could not be set up."};
    }
    CURL* easy = handle.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CurlList headers;
    for (const auto& [name, value] : request.headers) {
        const std::string line = name + ": " + value;
        curl_slist* head = curl_slist_append(headers.get(), line.c_str());
        if (!head) {
            return {.error = "The HTTP client ran out of memory."};
        }
        // The head is the same list once it has one entry; release first so reset frees nothing.
        (void)headers.release();
        headers.reset(head);
    }

    curl_easy_setopt(easy, CURLOPT_CURLU, url.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    // A proxy from the environment would carry loopback requests off this machine.
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    // Signals would reach other threads of the application; the timeout works without them.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutSeconds * 1000.0));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    if (request.method == "POST" || !request.body.empty()) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
    }
    if (request.method != "POST" && request.method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discardBody);

    const CURLcode result = curl_easy_perform(easy);
    if (result != CURLE_OK) {
        return {.error = errorBuffer[0] ? std::string(errorBuffer)
                                        : std::string(curl_easy_strerror(result))};
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return {.status = static_cast<int>(status)};
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
    // Not safe to race with other threads' first use of the library, so done before any worker.
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool CurlHttpClient::send(const HttpRequest& request, std::function<void(HttpOutcome)> completion) {
    CurlUrl url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    // Detached: the caller may stop waiting long before the request's own timeout, and the
    // thread holds everything it uses.
    std::thread([request, url = std::move(url), completion = std::move(completion)]() mutable {
        completion(perform(request, std::move(url)));
    }).detach();
    return true;
}

}  // namespace companion
