#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "Harness.h"

namespace tarvelind::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Path = std::filesystem::path;

// Byte for byte what the companion hands to the sqlite3 tool.
constexpr char kCompanionQuery[] =
    "SELECT created_at, kind, severity, summary\n"
    "FROM companion_events\n"
    "WHERE kind NOT IN ('lan.baseline', 'companion.started', 'lan.snapshot', 'capture.start')\n"
    "ORDER BY cursor DESC\n"
    "LIMIT 8;";

/// The status line of the answer to `request` sent as raw bytes; empty if none came.
std::string rawStatusLine(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    char buffer[4096];
    ssize_t n = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0) {
        while (answer.find("\r\n") == std::string::npos &&
               (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

void writeFile(const Path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

class RunningDaemon : public ::testing::Test {
  protected:
    void start(std::vector<std::string> flags = {}) {
        port = freeLoopbackPort();
        daemon = std::make_unique<Process>(daemonCommand(config(), port, flags), dir.path());
        ASSERT_TRUE(daemon->waitUntilServing(port)) << daemon->out();
    }
    Path config() const { return dir.path() / "tarvelind"; }
    json pairing() const { return json::parse(readFile(config() / "pairing-code.json")); }

    int request(const char* method, const char* path, const std::string& body = "{}") {
        httplib::Client client("127.0.0.1", port);
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = body;
        req.set_header("Content-Type", "application/json");
        auto res = client.send(req);
        return res ? res->status : -1;
    }
    std::string sqlite(const std::string& sql) {
        Process tool({"/usr/bin/sqlite3", "-json", (config() / "events.sqlite").string(), sql},
                     dir.path());
        EXPECT_EQ(tool.waitForExit(), 0) << tool.err();
        return tool.out();
    }

    TempDir dir;
    int port = 0;
    std::unique_ptr<Process> daemon;
};

TEST_F(RunningDaemon, ChallengeRenewsTheCodeButNotTheFingerprint) {
    start();
    const json first = pairing();
    ASSERT_TRUE(std::regex_match(first["pairingCode"].get<std::string>(), std::regex("[0-9]{6}")));
    ASSERT_FALSE(first["serverFingerprint"].get<std::string>().empty());

    bool renewed = false;
    // Three tries, since a fresh random code equals the old one once in a million.
    for (int i = 0; i < 3 && !renewed; ++i) {
        httplib::Client client("127.0.0.1", port);
        auto res = client.Post("/v1/pairing/challenge", "{}", "application/json");
        ASSERT_TRUE(res && res->status == 200);
        const json now = pairing();
        const json answer = json::parse(res->body);
        for (const auto& [name, value] : answer.items()) {
            EXPECT_NE(value, now["pairingCode"]) << "the answer gives the code away in " << name;
        }
        EXPECT_EQ(now["serverFingerprint"], first["serverFingerprint"]);
        renewed = now["pairingCode"] != first["pairingCode"];
    }
    EXPECT_TRUE(renewed);
}

TEST_F(RunningDaemon, PairingFileStaysPrivateAndWholeUnderRacingChallenges) {
    start();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, broken{0};
    std::thread reader([&] {
        for (; !done; ++reads) {
            struct stat info {};
            bool private0600 = stat((config() / "pairing-code.json").c_str(), &info) == 0 &&
                               (info.st_mode & 0777) == 0600;
            json content = json::parse(readFile(config() / "pairing-code.json"), nullptr, false);
            broken += !private0600 || !content.is_object() || !content["pairingCode"].is_string();
        }
    });
    auto challenger = [&] {
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(request("POST", "/v1/pairing/challenge"), 200);
    };
    std::thread second(challenger);
    challenger();
    second.join();
    done = true;
    reader.join();

    EXPECT_EQ(broken, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
    // Identity, pairing file, store and its two companions: no temporary file left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config()), {}), 5);
}

TEST_F(RunningDaemon, StoreAnswersTheCompanionQuery) {
    start({"-allow-capture"});
    ASSERT_EQ(sizeof kCompanionQuery - 1, 183u);
    // Everything written at start-up is of a kind the digest leaves out.
    EXPECT_EQ(sqlite(kCompanionQuery), "");

    std::vector<std::string> kinds;
    for (const auto& row : json::parse(sqlite("SELECT kind, created_at FROM companion_events"))) {
        kinds.push_back(row["kind"]);
        EXPECT_TRUE(std::regex_match(row["created_at"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << row["created_at"];
    }
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"companion.started", "capture.start", "lan.baseline"}));

    // Ten changes written through a second connection while the daemon holds the store open.
    sqlite(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10) "
        "INSERT INTO companion_events(created_at, kind, severity, summary) "
        "SELECT '2025-01-01T00:00:00.000Z', 'lan.neighbor.joined', 'notice', 'device ' || i FROM "
        "n");
    json rows = json::parse(sqlite(kCompanionQuery));
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows.front()["summary"], "device 10");
    EXPECT_EQ(rows.back()["summary"], "device 3");
}

TEST_F(RunningDaemon, SigtermFreesThePortForAnImmediateRestart) {
    start();
    const json before = pairing();
    // The daemon closing this connection leaves TIME_WAIT on its port.
    const std::string closing = "GET /v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(rawStatusLine(port, closing), "HTTP/1.1 200 OK");

    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->waitForExit(2s), 0) << daemon->out();
    EXPECT_EQ(rawStatusLine(port, closing), "");

    daemon = std::make_unique<Process>(daemonCommand(config(), port), dir.path());
    ASSERT_TRUE(daemon->waitUntilServing(port)) << daemon->out();
    EXPECT_EQ(pairing()["serverFingerprint"], before["serverFingerprint"]);
    EXPECT_EQ(sqlite("SELECT count(*) AS n FROM companion_events WHERE kind = 'companion.started'"),
              "[{\"n\":2}]\n");
    daemon->signal(SIGINT);
    EXPECT_EQ(daemon->waitForExit(2s), 0) << daemon->out();
}

TEST_F(RunningDaemon, BadRequestsAreRefusedAndServingGoesOn) {
    start();
    const std::string justFits = R"({"pad":")" + std::string(64 * 1024 - 10, 'x') + R"("})";
    struct Case {
        const char* method;
        const char* path;
        std::string body;
        int status;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"POST", "/v1/pairing/challenge", "", 200},
             {"POST", "/v1/pairing/challenge", justFits, 200},
             {"POST", "/v1/pairing/challenge", justFits + " ", 400},
             {"POST", "/v1/pairing/challenge", "not json", 400},
             {"POST", "/v1/pairing/challenge", "[1]", 400},
             {"GET", "/v1/pairing/challenge", "", 404},
             {"POST", "/v1/health", "{}", 404},
             {"GET", "/v1/nowhere", "", 404},
         }) {
        EXPECT_EQ(request(c.method, c.path, c.body), c.status)
            << c.method << " " << c.path << " with " << c.body.size() << " bytes";
    }
    EXPECT_EQ(rawStatusLine(port, "GARBAGE\r\n\r\n"), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(rawStatusLine(
                  port, "POST /v1/pairing/challenge HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n"),
              "HTTP/1.1 400 Bad Request");

    httplib::Client client("127.0.0.1", port);
    auto health = client.Get("/v1/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(json::parse(health->body)["captureAllowed"], false);
    EXPECT_EQ(request("POST", "/v1/pairing/challenge"), 200);
}

TEST_F(RunningDaemon, SecondDaemonOnTheSamePortExits1AndChangesNothing) {
    start();
    const json before = pairing();
    Process second(daemonCommand(config(), port), dir.path());
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_NE(second.out().find("in use"), std::string::npos) << second.out();
    EXPECT_EQ(pairing(), before);
    EXPECT_EQ(request("POST", "/v1/pairing/challenge"), 200);
}

TEST_F(RunningDaemon, RootHandsEveryCreatedFileToTheFolderOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root runs the capture variant";
    constexpr uid_t kUser = 65534;
    std::filesystem::create_directories(config());
    ASSERT_EQ(chown(config().c_str(), kUser, kUser), 0);
    // What the companion leaves before the capture variant starts: an empty file of its own.
    writeFile(config() / "pairing-code.json", "");
    ASSERT_EQ(chown((config() / "pairing-code.json").c_str(), kUser, kUser), 0);

    start({"-allow-capture"});
    EXPECT_EQ(request("POST", "/v1/pairing/challenge"), 200);
    for (const char* name : {"identity.key", "pairing-code.json", "events.sqlite",
                             "events.sqlite-wal", "events.sqlite-shm"}) {
        struct stat info {};
        ASSERT_EQ(stat((config() / name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_uid, kUser) << name;
        EXPECT_EQ(info.st_gid, kUser) << name;
    }
}

TEST(DaemonStart, BadCommandLinesGiveOneLineAndStatus2) {
    TempDir dir;
    const std::string config = (dir.path() / "cfg").string();
    const std::vector<std::string> valid = daemonCommand(config, 50051);
    // `valid` is the binary, then -addr, loopback, -port, 50051, -config, DIR, -pairing-code-file,
    // FILE; each case removes `removed` arguments at `at` and puts `inserted` in their place.
    auto edited = [&](std::size_t at, std::size_t removed, std::vector<std::string> inserted) {
        std::vector<std::string> argv = valid;
        argv.erase(argv.begin() + at, argv.begin() + at + removed);
        argv.insert(argv.begin() + at, inserted.begin(), inserted.end());
        return argv;
    };
    for (const auto& argv : {
             edited(1, 8, {}),             // nothing at all
             edited(7, 2, {}),             // no pairing file
             edited(5, 2, {}),             // no config
             edited(9, 0, {"-verbose"}),   // unknown flag
             edited(9, 0, {"extra"}),      // stray argument
             edited(8, 1, {}),             // flag without its value
             edited(2, 1, {"somewhere"}),  // neither lan, loopback nor an address
             edited(4, 1, {"http"}),
             edited(4, 1, {"0"}),
             edited(4, 1, {"65536"}),
             edited(6, 1, {""}),
             edited(1, 0, {"-allow-capture=maybe"}),
         }) {
        Process run(argv, dir.path());
        std::string err = run.waitForExit() == 2 ? run.err() : "(wrong status)";
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << argv.back() << ": " << err;
        EXPECT_FALSE(std::filesystem::exists(config)) << argv.back() << " started anyway";
    }
}

TEST(DaemonStart, FaultsStopTheStartWithStatus1AndLeaveNoPairingFile) {
    struct Case {
        const char* name;
        const char* file;  // in the config folder; none for the folder itself
        std::string bytes;
        bool holdWriteLock;
        const char* logMentions;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"ConfigIsAFile", nullptr, "x", false, "config directory"},
             {"CorruptStore", "events.sqlite", std::string(8192, 'Z'), false, "events.sqlite"},
             {"TruncatedIdentity", "identity.key", "short", false, "identity.key"},
             {"LockedStore", "events.sqlite", "", true, "locked"},
         }) {
        TempDir dir;
        const Path config = dir.path() / "tarvelind";
        if (c.file)
            std::filesystem::create_directories(config);
        writeFile(c.file ? config / c.file : config, c.bytes);
        sqlite3* holder = nullptr;
        if (c.holdWriteLock) {
            sqlite3_open((config / "events.sqlite").c_str(), &holder);
            sqlite3_exec(holder,
                         "PRAGMA journal_mode=WAL; CREATE TABLE companion_events(cursor INTEGER "
                         "PRIMARY KEY, created_at, kind, severity, summary); BEGIN EXCLUSIVE; "
                         "INSERT INTO companion_events(kind) VALUES ('held');",
                         nullptr, nullptr, nullptr);
        }
        Process run(daemonCommand(config, freeLoopbackPort()), dir.path());
        EXPECT_EQ(run.waitForExit(), 1) << c.name;
        EXPECT_NE(run.out().find(c.logMentions), std::string::npos) << c.name << ": " << run.out();
        EXPECT_FALSE(std::filesystem::is_regular_file(config / "pairing-code.json")) << c.name;
        sqlite3_close(holder);
    }
}

}  // namespace
}  // namespace tarvelind::testing
