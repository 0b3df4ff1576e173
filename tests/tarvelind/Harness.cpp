#include "Harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarvelind::testing {

TempDir::TempDir() {
    std::string pattern = "/tmp/tarvelind-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string readFile(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

Process::Process(const std::vector<std::string>& argv, const std::filesystem::path& scratch) {
    static int count = 0;
    out_ = scratch / ("process" + std::to_string(++count) + ".out");
    err_ = scratch / ("process" + std::to_string(count) + ".err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT, 0644);
    std::vector<char*> raw;
    for (const auto& arg : argv)
        raw.push_back(const_cast<char*>(arg.c_str()));
    raw.push_back(nullptr);
    int rc = posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

Process::~Process() {
    if (!status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> Process::waitForExit(std::chrono::milliseconds timeout) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout; !status_;) {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        } else if (std::chrono::steady_clock::now() > deadline) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return status_;
}

bool Process::waitUntilServing(int port) {
    httplib::Client client("127.0.0.1", port);
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (auto res = client.Get("/v1/health"); res && res->status == 200)
            return true;
        if (waitForExit(std::chrono::milliseconds(20)))
            return false;
    }
    return false;
}

void Process::signal(int number) const {
    kill(pid_, number);
}

std::vector<std::string> daemonCommand(const std::filesystem::path& config, int port,
                                       std::vector<std::string> flags) {
    flags.insert(flags.begin(), TARVELIND_BINARY);
    flags.insert(flags.end(),
                 {"-addr", "loopback", "-port", std::to_string(port), "-config", config.string(),
                  "-pairing-code-file", (config / "pairing-code.json").string()});
    return flags;
}

}  // namespace tarvelind::testing
