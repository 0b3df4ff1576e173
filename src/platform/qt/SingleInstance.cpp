#include "platform/qt/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <thread>

namespace companion {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockName = "orvane-pelix-companion.lock";
constexpr const char* kSocketName = "orvane-pelix-companion.socket";
constexpr QByteArrayView kReopen = "reopen\n";
constexpr QByteArrayView kTaken = "ok\n";
// Longer than any message of ours; a peer that sends more without a line end is not one of us.
constexpr qint64 kMaxMessageBytes = 64;

QString socketPath(const fs::path& folder) {
    return QString::fromStdString((folder / kSocketName).string());
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

SingleInstance::~SingleInstance() {
    // The socket goes before the lock, so whoever takes the lock next finds no listener of ours.
    server_.reset();
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
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
    if (lockFd_ < 0) {
        // Close on exec: a program started from here (the file manager behind Open Logs, say)
        // that outlives us must not keep holding the lock.
        lockFd_ = ::open((*folder_ / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0) {
            // Running unguarded beats not running at all.
            std::perror("Orvane Pelix Companion: cannot open its lock file");
            return true;
        }
    }
    // The kernel lets go of the lock when its holder ends, however it ends: a crashed
    // companion leaves its socket file behind but never its lock.
    return ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
}

void SingleInstance::listen() {
    const QString path = socketPath(*folder_);
    // Holding the lock means whatever socket lies there is stale.
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        std::fprintf(stderr, "Orvane Pelix Companion: cannot listen on %s: %s\n", qPrintable(path),
                     qPrintable(server_->errorString()));
        return;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            QObject::connect(connection, &QLocalSocket::disconnected, connection,
                             &QObject::deleteLater);
            QObject::connect(connection, &QLocalSocket::readyRead, connection,
                             [this, connection] { receive(connection); });
        }
    });
}

void SingleInstance::receive(QLocalSocket* connection) {
    if (!connection->canReadLine()) {
        if (connection->bytesAvailable() > kMaxMessageBytes) {
            connection->abort();
        }
        return;
    }
    if (connection->readLine(kMaxMessageBytes) != kReopen) {
        connection->abort();
        return;
    }
    connection->write(kTaken.data(), kTaken.size());
    connection->disconnectFromServer();
    QTimer::singleShot(0, server_.get(), [this] {
        if (reopenHandler_) {
            reopenHandler_(anyVisibleWindow());
        }
    });
}

SingleInstance::HandOver SingleInstance::handOver(
    std::chrono::steady_clock::time_point deadline) const {
    const auto remaining = [deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(left.count(), 1));
    };
    QLocalSocket socket;
    socket.connectToServer(socketPath(*folder_));
    if (!socket.waitForConnected(std::min(remaining(), 1000))) {
        return HandOver::NobodyListens;
    }
    socket.write(kReopen.data(), kReopen.size());
    socket.waitForBytesWritten(remaining());
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= kMaxMessageBytes &&
           std::chrono::steady_clock::now() < deadline) {
        if (!socket.waitForReadyRead(remaining())) {
            break;
        }
        answer += socket.readAll();
    }
    answer += socket.readAll();
    return answer == kTaken ? HandOver::Taken : HandOver::NotTaken;
}

void SingleInstance::setReopenHandler(std::function<void(bool hasVisibleWindows)> handler) {
    reopenHandler_ = std::move(handler);
}

}  // namespace companion
