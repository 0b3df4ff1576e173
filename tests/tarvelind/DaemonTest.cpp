// The real daemon, started and reached as the companion and a phone on the LAN do, and its network
// watcher fed with a changing network. Every test process has its own network and port 50051.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <deque>
#include <nlohmann/json.hpp>
#include <regex>

#include "LanWatcher.h"
#include "main/LanPeer.h"
#include "main/PrivateNetwork.h"
#include "support/TestEnvironment.h"

namespace {

using namespace companion::testing;
using namespace std::chrono_literals;
using nlohmann::json;

// The companion's command line, run from inside the test's folder.
constexpr char kCompanionArgs[] = "-addr lan -port 50051 -config cfg -pairing-code-file cfg/p.json";

std::string shell(const fs::path& folder, const std::string& line) {
    std::system(("cd " + folder.string() + " && " + line + " >out").c_str());
    return readFile(folder / "out");
}

std::string daemonIn(const fs::path& folder, const std::string& args, std::string wrapper = "") {
    return "cd " + folder.string() + " && exec " + wrapper + TARVELIND_BINARY " " + args +
           " >log 2>&1";
}

class RunningDaemon : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETWORK();
        peer.emplace();
    }
    void TearDown() override { stop(); }

    void start(const std::string& flags = "", const std::string& wrapper = "") {
        const std::string line = daemonIn(dir.path(), flags + " " + kCompanionArgs, wrapper);
        if ((pid = fork()) == 0) {
            execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            _exit(127);
        }
        ASSERT_TRUE(waitUntil([] {
            return !!httplib::Client("127.0.0.1", 50051).Get("/v1/health");
        })) << readFile(dir.path() / "log");
    }
    void stop() {
        int raw = 0;
        if (pid > 0 && kill(pid, SIGTERM) == 0)
            waitpid(pid, &raw, 0);
        EXPECT_EQ(raw, 0) << readFile(dir.path() / "log");
        pid = -1;
    }
    json pairing() { return json::parse(readFile(dir.path() / "cfg/p.json")); }
    std::string events() { return shell(dir.path(), "sqlite3 cfg/events.sqlite .dump"); }
    std::string proc(const std::string& file) {
        return readFile("/proc/" + std::to_string(pid) + "/" + file);
    }
    bool challenged() {
        auto res = httplib::Client("127.0.0.1", 50051).Post("/v1/pairing/challenge");
        return res && res->status == 200;
    }

    std::optional<LanPeer> peer;
    TemporaryFolder dir;
    pid_t pid = -1;
};

TEST_F(RunningDaemon, ASecondOneExits1AndOneWithABadCommandLine2WithoutWritingAnything) {
    start();
    const std::string args = kCompanionArgs;
    const std::string tail = " -config cfg -pairing-code-file cfg/p.json";
    // clang-format off
    for (const auto& [line, status] : std::vector<std::pair<std::string, int>>{
             {args, 1}, {"--addr=127.0.0.1 -port=50051 -config=cfg -pairing-code-file=cfg/p.json", 1},
             {"", 2}, {"-addr lan -port 50051 -config cfg", 2}, {"-port 50051" + tail, 2},
             {args + " -verbose", 2}, {args + " extra", 2}, {args + " -port", 2},
             {"-addr somewhere -port 50051" + tail, 2}, {"-addr lan -port 0" + tail, 2},
             {"-addr lan -port 65536" + tail, 2}, {"-allow-capture=maybe " + args, 2},
             {"-addr lan -port 50051 -config '' -pairing-code-file cfg/p.json", 2}}) {
        // clang-format on
        TemporaryFolder dir;
        const int raw = std::system(daemonIn(dir.path(), line, "timeout -s KILL 10 ").c_str());
        const std::string log = readFile(dir.path() / "log");
        // The running daemon's code stays valid; a bad command line is told in one line.
        EXPECT_TRUE(WEXITSTATUS(raw) == status && !fs::exists(dir.path() / "cfg/p.json") &&
                    (status == 1 || (std::count(log.begin(), log.end(), '\n') == 1 &&
                                     !fs::exists(dir.path() / "cfg"))))
            << WEXITSTATUS(raw) << " for " << line << "\n"
            << log;
    }
}

TEST_F(RunningDaemon, MintsCodesForTheCompanionOnlyAndRefusesWhatItCannotTake) {
    start();
    auto fits = R"({"a":")" + std::string(64 * 1024 - 8, 'x') + "\"}";  // the most it takes
    const std::string challenge = "/v1/pairing/challenge";
    // clang-format off
    for (const auto& [method, path, body, status, fromPeer] :
         std::vector<std::tuple<std::string, std::string, std::string, int, bool>>{
             {"POST", challenge, "{}", 403, true}, {"POST", challenge, "{}", 200, false},
             {"POST", challenge, "", 200, false}, {"POST", challenge, fits, 200, false},
             {"POST", challenge, fits + " ", 400, false}, {"POST", challenge, "not json", 400, false},
             {"POST", challenge, "[1]", 400, false}, {"GET", challenge, "", 404, false},
             {"POST", "/v1/health", "{}", 404, false}, {"GET", "/v1/nowhere", "", 404, false},
             {"GET", "/v1/health", "", 200, true}, {"GET", "/v1/x%0Aforged%1B[2J", "", 404, true}}) {
        // clang-format on
        const json before = pairing();
        auto ask = [&, fromPeer = fromPeer, &method = method, &path = path, &body = body] {
            httplib::Client client(fromPeer ? LanPeer::kThisSide : "127.0.0.1", 50051);
            return method == "GET" ? client.Get(path) : client.Post(path, body, "application/json");
        };
        auto res = fromPeer ? peer->asPeer(ask) : ask();
        EXPECT_EQ(res ? res->status : -1, status) << method << path << " from peer " << fromPeer;
        // Only a successful challenge renews the code.
        EXPECT_EQ(pairing() != before, status == 200 && path == challenge) << path;
    }
    // A LAN peer starts no log line of its own and sends the terminal no escape sequence.
    EXPECT_NE(readFile(dir.path() / "log").find("GET /v1/x%0Aforged%1B[2J 404"), std::string::npos);
}

TEST_F(RunningDaemon, AnswersTheCompanionWhileALanPeerFloodsIt) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    start();
    // The first 200 trickle a byte a second, the other 1,000 wait.
    std::vector<int> flood;
    for (int i = 0; i < 1200; ++i)
        flood.push_back(peer->connectTo(50051));
    auto held = [&] {
        return std::count_if(flood.begin(), flood.end(), [](int fd) {
            pollfd end{fd, POLLIN | POLLRDHUP, 0};
            return poll(&end, 1, 0) == 0;
        });
    };
    for (int second = 0; second < 10 && held() > 0; ++second) {
        for (int i = 0; i < 200; ++i)
            send(flood[i], "G", 1, MSG_NOSIGNAL);
        EXPECT_TRUE(challenged()) << "in second " << second;
        std::this_thread::sleep_for(1s);
    }
    EXPECT_EQ(held(), 0) << "connections from the peer still open";
    for (int fd : flood)
        close(fd);

    // Of twenty whole requests from one peer at once, it answers as many as one peer may hold.
    std::vector<int> burst(20);
    for (int& fd : burst)
        fd = peer->connectTo(50051);
    const std::string request = "GET /v1/health HTTP/1.1\r\nHost: d\r\n\r\n";
    for (int fd : burst)
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    int answered = 0;
    for (int fd : burst) {
        char reply[13] = "";
        answered += recv(fd, reply, 12, 0) == 12 && std::string(reply) == "HTTP/1.1 200";
        close(fd);
    }
    EXPECT_EQ(answered, 8);
}

TEST_F(RunningDaemon, RecordsNothingWhileItHasNoDescriptorsLeftToReadTheNetwork) {
    start();
    const std::string before = events();
    // Two descriptors to spare: the peer's connections take them, and the reads of the
    // network find none until the flood ends.
    const auto open = std::distance(fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"),
                                    fs::directory_iterator());
    shell(dir.path(),
          "prlimit --nofile=" + std::to_string(open + 2) + " --pid " + std::to_string(pid));
    std::vector<int> flood;
    auto logged = [&](const std::string& text) {
        return readFile(dir.path() / "log").find(text) != std::string::npos;
    };
    EXPECT_TRUE(waitUntil([&] {
        flood.push_back(peer->connectTo(50051));
        return logged("cannot read the network");
    }));
    for (int fd : flood)
        close(fd);
    EXPECT_TRUE(waitUntil([&] { return logged("the network can be read again"); }));
    EXPECT_TRUE(challenged());
    EXPECT_EQ(events(), before);
}

TEST_F(RunningDaemon, KeepsThePairingFileWholeAndPrivateAndTheStoreAcrossARestart) {
    // As root in its owner's folder, the capture variant serves as that owner.
    fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
    fs::create_directory(dir.path() / "cfg");
    ASSERT_EQ(chown((dir.path() / "cfg").c_str(), 65534, 65534), 0);
    start("-allow-capture");
    EXPECT_NE(proc("status").find("Uid:\t65534\t65534\t65534\t65534\nGid:\t65534\t65534\t65534"),
              std::string::npos);
    const json first = pairing();
    EXPECT_TRUE(std::regex_match(first["pairingCode"].get<std::string>(), std::regex("\\d{6}")));
    EXPECT_TRUE(std::regex_match(first["serverFingerprint"].get<std::string>(),
                                 std::regex("[0-9a-f]{64}")));
    // A reader part-way through the file when the code changes goes on reading the old one.
    std::ifstream early(dir.path() / "cfg/p.json");
    ASSERT_TRUE(httplib::Client("127.0.0.1", 50051).Post("/v1/pairing/challenge"));
    EXPECT_EQ(json::parse(std::string(std::istreambuf_iterator<char>(early), {})), first);
    EXPECT_EQ(fs::status(dir.path() / "cfg/p.json").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    stop();
    start("", "prlimit --nofile=512:4096 ");
    EXPECT_TRUE(std::regex_search(proc("limits"), std::regex("Max open files +4096 +4096")));
    EXPECT_EQ(pairing()["serverFingerprint"], first["serverFingerprint"]);
    // Only events stamped as internet date-times with milliseconds are listed.
    EXPECT_EQ(shell(dir.path(),
                    "sqlite3 cfg/events.sqlite \"SELECT kind FROM companion_events WHERE "
                    "created_at = strftime('%Y-%m-%dT%H:%M:%fZ', created_at) ORDER BY cursor\""),
              "companion.started\ncapture.start\nlan.baseline\ncompanion.started\nlan.baseline\n");
}

TEST(LanWatcher, StoresEachChangeOnceNoneFromAFailedReadAndStopsWhenTheStoreFails) {
    // The network as successive polls find it, each with the events its change gives.
    std::deque<tarvelind::LanView> views(1);  // each view starts as a copy of the one before
    std::vector<std::string> changes;
    auto poll = [&](const std::string& events) -> tarvelind::LanView& {
        changes.push_back(events);
        return views.emplace_back(views.back());
    };
    views[0].interfaces["eth0"] = {true, {"192.168.1.20/24", "fe80::1/64"}};
    poll("");
    poll("interface.up/info ").interfaces["wlan0"].up = true;
    poll("interface.down/notice ").interfaces["wlan0"].up = false;
    poll("address.removed/notice address.added/info ").interfaces["eth0"].addresses = {
        "10.0.0.2/8", "fe80::1/64"};
    poll("interface.down/notice address.removed/notice address.removed/notice ")
        .interfaces.erase("eth0");
    poll("interface.up/info address.added/info ").interfaces["usb0"] = {true, {"10.0.0.3/8"}};
    poll("gateway.changed/notice ").gateway = {"10.0.0.1", "usb0"};
    poll("gateway.changed/warning ").gateway = {"10.0.0.254", "usb0"};
    poll("gateway.changed/warning ").gateway.reset();
    poll("neighbor.joined/notice ").neighbors["10.0.0.9"] = {"bb:bb:bb:bb:bb:09", "usb0"};
    poll("").neighbors["10.0.0.9"].interfaceName = "wlan0";
    poll("neighbor.changed/warning ").neighbors["10.0.0.9"].hardwareAddress = "cc:cc:cc:cc:cc:cc";
    poll("neighbor.left/info ").neighbors.erase("10.0.0.9");
    // The last poll finds a device just as the disk fills up: the watcher must stop there, and
    // one that went on would read past the last view.
    views.emplace_back(views.back()).neighbors["10.0.0.7"] = {"bb:bb:bb:bb:bb:07", "usb0"};

    for (auto snapshotInterval : {std::chrono::milliseconds(1h), 0ms}) {
        TemporaryFolder dir;
        std::string error, expected = "baseline/info ";
        for (const std::string& events : changes)
            expected += events + (snapshotInterval == 0ms ? "snapshot/info " : "");
        auto store = tarvelind::EventStore::open(dir.path() / "events.sqlite", std::nullopt, error);
        shell(dir.path(),
              "sqlite3 events.sqlite \"CREATE TRIGGER full BEFORE INSERT ON "
              "companion_events WHEN NEW.summary LIKE '%10.0.0.7%' BEGIN "
              "SELECT RAISE(FAIL, 'disk full'); END\"");
        std::size_t reads = 0;
        // Every other read fails, the first one too: none of them may count as a change.
        tarvelind::LanWatcher watcher(
            *store,
            [&]() -> tarvelind::LanReading {
                if (reads++ % 2 == 0)
                    return {std::nullopt, "no descriptors left"};
                return {views.at(reads / 2 - 1), ""};
            },
            1ms, snapshotInterval);
        ASSERT_EQ(watcher.recordBaseline(), std::nullopt);
        EXPECT_NE(watcher.run().value_or("").find("lan.neighbor.joined"), std::string::npos);
        EXPECT_EQ(shell(dir.path(),
                        "sqlite3 -separator / -newline ' ' events.sqlite 'SELECT "
                        "substr(kind, 5), severity FROM companion_events'"),
                  expected);
    }
}

}  // namespace
