#include "platform/posix/LoopbackHttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/posix/Spawn.h"
#include "platform/posix/WaitUntilReady.h"

namespace companion {

namespace {

using Clock = std::chrono::steady_clock;

// A text that may go into a request line or a header as it is: no spaces where the grammar
// separates, and never a line break that would start a header or a request of its own.
bool isFieldText(std::string_view text, bool spacesAllowed) {
    return std::none_of(text.begin(), text.end(), [&](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < ' ' || byte == 0x7f || (byte == ' ' && !spacesAllowed);
    });
}

std::string requestText(const HttpRequest& request, const LoopbackUrl& url) {
    const bool v6 = url.address.find(':') != std::string::npos;
    std::string text = request.method + " " + url.path +
                       " HTTP/1.1\r\nHost: " + (v6 ? "[" + url.address + "]" : url.address) + ":" +
                       std::to_string(url.port) + "\r\n";
    for (const auto& [name, value] : request.headers)
        text += name + ": " + value + "\r\n";
    if (request.method == "POST" || !request.body.empty())
        text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n" + request.body;
}

HttpOutcome perform(const HttpRequest& request, const LoopbackUrl& url) {
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(request.timeoutSeconds));
    const auto milliseconds = [&] {
        return std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    };
    const auto failure = [](const std::string& what, int error) {
        return HttpOutcome{.error = what + ": " + std::strerror(error) + "."};
    };
    const auto timedOut = [&] {
        return HttpOutcome{.error =
                               "Operation timed out after " + milliseconds() + " milliseconds."};
    };

    sockaddr_storage address{};
    socklen_t length = 0;
    if (url.address.find(':') != std::string::npos) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(url.port));
        ::inet_pton(AF_INET6, url.address.c_str(), &v6.sin6_addr);
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<std::uint16_t>(url.port));
        ::inet_pton(AF_INET, url.address.c_str(), &v4.sin_addr);
        length = sizeof v4;
    }
    const FileDescriptor socket(
        ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket)
        return failure("Could not open a connection", errno);

    int error =
        ::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
    if (error == EINPROGRESS || error == EINTR) {
        if (!waitUntilReady(socket.get(), POLLOUT, deadline))
            return timedOut();
        socklen_t size = sizeof error;
        ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size);
    }
    if (error != 0) {
        // Worded as the other platforms' clients word it, which the user may have met before.
        return {.error =
                    "Failed to connect to " + url.address + " port " + std::to_string(url.port) +
                    " after " + milliseconds() + " ms: " +
                    (error == ECONNREFUSED ? "Couldn't connect to server" : std::strerror(error))};
    }

    const std::string text = requestText(request, url);
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t sent =
            ::send(socket.get(), text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent >= 0) {
            done += static_cast<std::size_t>(sent);
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitUntilReady(socket.get(), POLLOUT, deadline))
                return timedOut();
        } else {
            return failure("Could not send the request", errno);
        }
    }

    // Only the status line matters; the rest of the answer is left unread.
    std::string answer;
    while (answer.find('\n') == std::string::npos && answer.size() < 1024) {
        char buffer[512];
        const ssize_t got = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (got > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitUntilReady(socket.get(), POLLIN, deadline))
                return timedOut();
        } else {
            return failure("Could not read the answer", errno);
        }
    }
    if (answer.empty())
        return {.error = "The server closed the connection without answering."};
    const auto status = httpStatusOf(answer);
    if (!status)
        return {.error = "The server's answer is not HTTP."};
    return {.status = status};
}

}  // namespace

std::optional<LoopbackUrl> parseLoopbackUrl(const std::string& url) {
    constexpr std::string_view kScheme = "http://";
    if (!url.starts_with(kScheme))
        return std::nullopt;
    const std::string_view rest = std::string_view(url).substr(kScheme.size());
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    LoopbackUrl parsed{.path =
                           slash == std::string_view::npos ? "/" : std::string(rest.substr(slash))};
    std::string_view port;
    in6_addr address{};
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        parsed.address = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return std::nullopt;
        port = after.empty() ? after : after.substr(1);
        if (::inet_pton(AF_INET6, parsed.address.c_str(), &address) != 1)
            return std::nullopt;
    } else {
        const std::size_t colon = authority.find(':');
        parsed.address = authority.substr(0, colon);
        port = colon == std::string_view::npos ? "" : authority.substr(colon + 1);
        if (::inet_pton(AF_INET, parsed.address.c_str(), &address) != 1)
            return std::nullopt;
    }
    if (!port.empty()) {
        const auto [end, error] =
            std::from_chars(port.data(), port.data() + port.size(), parsed.port);
        if (error != std::errc() || end != port.data() + port.size() || parsed.port == 0 ||
            parsed.port > 65535) {
            return std::nullopt;
        }
    }
    if (!isFieldText(parsed.path, false))
        return std::nullopt;
    return parsed;
}

std::optional<int> httpStatusOf(const std::string& answer) {
    // "HTTP/1.1 204 No Content": the version, a space, three digits, then a space or the line end.
    constexpr std::string_view kVersion = "HTTP/1.";
    if (answer.size() < kVersion.size() + 5 || !answer.starts_with(kVersion) ||
        !std::isdigit(static_cast<unsigned char>(answer[7])) || answer[8] != ' ') {
        return std::nullopt;
    }
    int status = 0;
    const char* digits = answer.data() + 9;
    const auto [end, error] = std::from_chars(digits, digits + 3, status);
    if (error != std::errc() || end != digits + 3 || status < 100 ||
        (end < answer.data() + answer.size() && *end != ' ' && *end != '\r' && *end != '\n')) {
        return std::nullopt;
    }
    return status;
}

bool LoopbackHttpClient::send(const HttpRequest& request,
                              std::function<void(HttpOutcome)> completion) {
    auto url = parseLoopbackUrl(request.url);
    const bool writable =
        !request.method.empty() && isFieldText(request.method, false) &&
        std::all_of(request.headers.begin(), request.headers.end(), [](const auto& header) {
            return !header.first.empty() && isFieldText(header.first, false) &&
                   header.first.find(':') == std::string::npos && isFieldText(header.second, true);
        });
    if (!url || !writable)
        return false;
    // Detached: the caller may stop waiting long before the request's own timeout, and the
    // thread holds everything it uses.
    std::thread([request, url = std::move(*url), completion = std::move(completion)] {
        completion(perform(request, url));
    }).detach();
    return true;
}

}  // namespace companion
