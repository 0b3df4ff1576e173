#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>

#include <regex>
#include <thread>

#include "main/PrivateNetwork.h"
#include "pairing/PairingLink.h"
#include "pairing/QrSymbol.h"
#include "platform/posix/PosixProbes.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(PairingHost, TheDaemonsNameElseTheSystemsTrimmedWithLocal) {
    EXPECT_EQ(pairingHostFromSystemName(" \t studio \r\n"), "studio.local");
    const std::optional<std::string> unnamed[] = {" \n\t", std::nullopt, "stu\xFF"};
    for (const auto& name : unnamed)
        EXPECT_EQ(pairingHostFromSystemName(name), "localhost") << name.value_or("no name");
    TestEnvironment env;
    EXPECT_EQ(env.makeDelegate()->localPairingHost({{"host", " relay.example "}}),
              " relay.example ");
    EXPECT_EQ(env.makeDelegate()->localPairingHost({{"host", ""}}),
              pairingHostFromSystemName(PosixHostNameSource().localHostName()));
}

TEST(QrSymbol, ScansBackAtLevelMInTheSmallestVersion) {
    // Modules a side, 21 for version 1, 0 for none. Ten bytes leave room for a stronger level.
    const std::vector<std::pair<std::string, int>> cases = {
        {"0123456789", 21},          {"orvane-pelix:/", 21},      {"orvane-pelix://", 25},
        {std::string(100, 'x'), 41}, {std::string(2332, 'x'), 0}, {"host=\xFF", 0}};
    for (const auto& [text, size] : cases) {
        const auto symbol = qrSymbol(text);
        ASSERT_EQ(symbol ? symbol->size : 0, size) << text;
        if (symbol) {
            // Level M's format bits, masked, start dark then light left of the timing column.
            EXPECT_TRUE(symbol->dark(0, 8) && !symbol->dark(1, 8)) << text;
            EXPECT_EQ(decodeQrCodes(*symbol), std::vector{text});
        }
    }
}

// The daemon's challenge endpoint; other paths get 404. What it noted may be read once it's gone.
struct StandInDaemon {
    StandInDaemon(int status, int delayMilliseconds, std::string& noted) {
        server.Post("/v1/pairing/challenge",
                    [=, &noted](const httplib::Request& request, httplib::Response& response) {
                        noted = request.get_header_value("Content-Type") + " " + request.body +
                                " " + request.remote_addr;
                        std::this_thread::sleep_for(std::chrono::milliseconds(delayMilliseconds));
                        response.status = status;
                    });
        // Not the library's SO_REUSEPORT, whose TIME_WAIT leftovers keep the daemon from binding.
        server.set_socket_options([](int socket) {
            int on = 1;
            ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        });
        EXPECT_TRUE(server.bind_to_port("127.0.0.1", 50051));
        thread = std::thread([this] { server.listen_after_bind(); });
        // A stop before the accept loop runs would be lost, and the join would wait for ever.
        while (!server.is_running())
            std::this_thread::yield();
    }
    ~StandInDaemon() {
        server.stop();
        thread.join();
    }
    httplib::Server server;
    std::thread thread;
};

TEST(ShowPairing, AsksTheDaemonThenShowsTheLinkOrWhyNot) {
    REQUIRE_PRIVATE_NETWORK();
    const std::string file = R"({"pairingCode": "a&b=c+d?e/f", "host": "Jo's Mac",)"
                             R"( "serverFingerprint": "!$'()*,-.:;@_~"})";
    const std::string starting = "The daemon is starting. Try again in a few seconds.";
    // Stand-in status (0: none) and delay in ms, pairing file, and the window's link or alert.
    const std::vector<std::tuple<int, int, std::optional<std::string>, std::string>> rows = {
        {204, 0, file,
         "orvane-pelix://pair?host=Jo's%20Mac&port=50051&code=a&b=c+d?e/f"
         "&fingerprint=!$'()*,-.:;@_~"},
        {299, 0, R"({"pairingCode": "", "serverFingerprint": "", "host": "h"})",
         "orvane-pelix://pair?host=h&port=50051&code=&fingerprint="},
        {300, 0, file, "Companion returned HTTP 300."},
        {204, 3000, file, "Timed out waiting for the local daemon on port 50051."},
        {0, 0, file,
         "Failed to connect to 127.0.0.1 port 50051 after N ms: Couldn't connect to server"},
        {204, 0, R"({"pairingCode": "042917"})", starting},
        {204, 0, R"({"serverFingerprint": "sha256:ab"})", starting},
        {204, 0, std::nullopt, starting},
        // Only string members count, as they are; outside the query's set, UTF-8 bytes in hex.
        {204, 0,
         R"({"pairingCode": " 1\n", "host": "caf\u00e9", "n": 2,)"
         R"( "serverFingerprint": "#%\"<>[]\\^`{|}"})",
         "orvane-pelix://pair?host=caf%C3%A9&port=50051&code=%201%0A"
         "&fingerprint=%23%25%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
        {204, 0, "", starting}};
    for (const auto& [status, delay, pairingFile, shown] : rows) {
        SCOPED_TRACE(std::to_string(status) + " " + pairingFile.value_or("no file"));
        TestEnvironment env;
        if (pairingFile)
            writeFile(env.configDirectory() / "pairing-code.json", *pairingFile);
        const bool opens = shown.starts_with("orvane-pelix:");
        std::string noted;
        std::optional<StandInDaemon> daemon;
        if (status)
            daemon.emplace(status, delay, noted);
        // A link shows in a window that is raised while open and replaced once closed.
        const auto delegate = env.makeDelegate();
        for (int showing = 0; showing < (opens ? 3 : 1); ++showing) {
            if (showing == 2)
                env.ui->pairingWindows[0]->close();
            // With no daemon to launch the command says so, and asks the port all the same.
            env.ui->expectAlert("Missing companion binary");
            if (!opens)
                env.ui->expectAlert("Pairing code not ready");
            delegate->showPairingQR();
        }
        daemon.reset();
        EXPECT_EQ(noted, status ? "application/json {} 127.0.0.1" : "");
        const auto& windows = env.ui->pairingWindows;
        ASSERT_EQ(windows.size(), opens ? 2u : 0u);
        EXPECT_EQ(env.ui->activations, opens ? 3 : 0);
        EXPECT_TRUE(!opens || (windows[0]->timesRaised == 2 && windows[1]->timesRaised == 1));
        EXPECT_EQ(opens ? windows[1]->content.pairingURL
                        : std::regex_replace(env.ui->alerts.back().informativeText,
                                             std::regex("[0-9]+ ms"), "N ms"),
                  shown);
    }
}

}  // namespace
}  // namespace companion::testing
