#include "platform/qt/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/posix/WaitUntilReady.h"

namespace companion {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockName = "orvane-pelix-companion.lock";
constexpr const char* kSocketName = "orvane-pelix-companion.socket";
constexpr std::string_view kReopen = "reopen\n";
constexpr std::string_view kTaken = "ok\n";
// Longer than any message of ours; a peer that sends more without a line end is not one of us.
constexpr std::size_t kMaxMessageBytes = 64;

// The socket's address, or nothing when the path is too long for one.
std::optional<sockaddr_un> socketAddress(const fs::path& folder) {
    const std::string path = (folder / kSocketName).string();
    sockaddr_un address{.sun_family = AF_UNIX};
    if (path.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Says "reopen" on the connection and returns the line that comes back, as far as it came.
std::string exchange(int fd, std::chrono::steady_clock::time_point deadline) {
    for (std::size_t sent = 0; sent < kReopen.size();) {
        const ssize_t wrote =
            ::send(fd, kReopen.data() + sent, kReopen.size() - sent, MSG_NOSIGNAL);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
        } else if ((wrote < 0 && errno != EAGAIN && errno != EINTR) ||
                   !waitUntilReady(fd, POLLOUT, deadline)) {
            return {};
        }
    }
    std::string answer;
    while (answer.find('\n') == std::string::npos && answer.size() <= kMaxMessageBytes) {
        char buffer[kMaxMessageBytes];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR) ||
                   !waitUntilReady(fd, POLLIN, deadline)) {
            break;
        }
    }
    return answer;
}

bool anyVisibleWindow() {
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible()) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<fs::path> SingleInstance::runtimeFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return fs::path(folder.toStdString());
}

SingleInstance::SingleInstance(std::optional<fs::path> folder,
                               std::chrono::milliseconds answerTimeout)
    : folder_(std::move(folder)), answerTimeout_(answerTimeout) {}

struct SingleInstance::Connection {
    explicit Connection(int fd) : fd(fd), notifier(fd, QSocketNotifier::Read) {}
    const FileDescriptor fd;
    QSocketNotifier notifier;
    std::string received;
};

SingleInstance::~SingleInstance() {
    connections_.clear();
    // The socket goes before the lock, so whoever takes the lock next finds no listener of ours.
    server_.reset();
    serverFd_.reset();
    lockFd_.reset();
}

SingleInstance::Claim SingleInstance::claim() {
    if (!folder_) {
        std::fputs(
            "Orvane Pelix Companion: no runtime folder; cannot tell whether another "
            "companion runs.\n",
            stderr);
        return Claim::Running;
    }
    const auto deadline = std::chrono::steady_clock::now() + answerTimeout_;
    for (;;) {
        if (tryLock()) {
            listen();
            return Claim::Running;
        }
        if (handOver(deadline) == HandOver::Taken) {
            return Claim::HandedOver;
        }
        // The holder may be starting, or quitting and about to let go of the lock.
        if (std::chrono::steady_clock::now() >= deadline) {
            return Claim::NoAnswer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool SingleInstance::tryLock() {
    if (!lockFd_) {
        // Close on exec: a program started from here (the file manager behind Open Logs, say)
        // that outlives us must not keep holding the lock.
        lockFd_.reset(::open((*folder_ / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!lockFd_) {
            // Running unguarded beats not running at all.
            std::perror("Orvane Pelix Companion: cannot open its lock file");
            return true;
        }
    }
    // The kernel lets go of the lock when its holder ends, however it ends: a crashed
    // companion leaves its socket file behind but never its lock.
    return ::flock(lockFd_.get(), LOCK_EX | LOCK_NB) == 0;
}

void SingleInstance::listen() {
    const auto address = socketAddress(*folder_);
    // Holding the lock means whatever socket lies there is stale.
    ::unlink(address ? address->sun_path : "");
    serverFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!address || !serverFd_ ||
        ::bind(serverFd_.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) !=
            0 ||
        ::chmod(address->sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(serverFd_.get(), 8) != 0) {
        std::fprintf(stderr, "Orvane Pelix Companion: cannot listen on %s: %s\n",
                     (*folder_ / kSocketName).c_str(),
                     address ? std::strerror(errno) : "the path is too long");
        return;
    }
    server_ = std::make_unique<QSocketNotifier>(serverFd_.get(), QSocketNotifier::Read);
    QObject::connect(server_.get(), &QSocketNotifier::activated, server_.get(),
                     [this] { accept(); });
}

void SingleInstance::accept() {
    for (int fd;
         (fd = ::accept4(serverFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        auto& connection = connections_.emplace_back(std::make_unique<Connection>(fd));
        QObject::connect(&connection->notifier, &QSocketNotifier::activated, server_.get(),
                         [this, fd] { receive(fd); });
    }
}

void SingleInstance::receive(int fd) {
    const auto found =
        std::find_if(connections_.begin(), connections_.end(),
                     [fd](const auto& connection) { return connection->fd.get() == fd; });
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = **found;
    char buffer[kMaxMessageBytes];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    const bool lineEnded = connection.received.find('\n') != std::string::npos;
    if (!lineEnded && got > 0 && connection.received.size() <= kMaxMessageBytes) {
        return;
    }
    const bool reopen = connection.received == kReopen;
    if (reopen) {
        ::send(fd, kTaken.data(), kTaken.size(), MSG_NOSIGNAL);
    }
    // Not from inside its own notifier's signal: the connection goes once the loop has let go.
    QTimer::singleShot(0, server_.get(), [this, fd, reopen] {
        std::erase_if(connections_,
                      [fd](const auto& connection) { return connection->fd.get() == fd; });
        if (reopen && reopenHandler_) {
            reopenHandler_(anyVisibleWindow());
        }
    });
    connection.notifier.setEnabled(false);
}

SingleInstance::HandOver SingleInstance::handOver(
    std::chrono::steady_clock::time_point deadline) const {
    const auto address = socketAddress(*folder_);
    const FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!address || !fd ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        return HandOver::NobodyListens;
    }
    return exchange(fd.get(), deadline) == kTaken ? HandOver::Taken : HandOver::NotTaken;
}

void SingleInstance::setReopenHandler(std::function<void(bool hasVisibleWindows)> handler) {
    reopenHandler_ = std::move(handler);
}

}  // namespace companion
