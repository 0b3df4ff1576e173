#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pairing/ChallengeServer.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct StatusCase {
    int status;
    std::optional<std::string> expected;
};

class PairingRefreshStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PairingRefreshStatus, SendsTheChallengeAndJudgesOnlyTheStatus) {
    TestEnvironment env;
    ChallengeServer daemon(GetParam().status);
    EXPECT_EQ(env.makeDelegate()->refreshPairingCode(), GetParam().expected);

    const auto requests = daemon.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/v1/pairing/challenge");
    EXPECT_EQ(requests[0].contentType, "application/json");
    EXPECT_EQ(requests[0].body, "{}");
    EXPECT_EQ(requests[0].remoteAddress, "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Statuses, PairingRefreshStatus,
                         ::testing::Values(StatusCase{204, std::nullopt},
                                           StatusCase{200, std::nullopt},
                                           StatusCase{299, std::nullopt},
                                           StatusCase{300, "Companion returned HTTP 300."},
                                           StatusCase{404, "Companion returned HTTP 404."},
                                           StatusCase{500, "Companion returned HTTP 500."}),
                         [](const auto& info) { return std::to_string(info.param.status); });

TEST(PairingRefresh, GivesUpAfterOneSecondWhileTheAnswerIsLate) {
    TestEnvironment env;
    ChallengeServer daemon(204, milliseconds(1500));
    const auto start = Clock::now();
    EXPECT_EQ(env.makeDelegate()->refreshPairingCode(),
              "Timed out waiting for the local daemon on port 50051.");
    const double waited = secondsSince(start);
    EXPECT_GE(waited, 0.95);
    EXPECT_LT(waited, 1.4);
    // The server's destructor waits for the late answer, which lands in a cell nobody reads.
}

TEST(PairingRefresh, ReportsTheTransportErrorWhenNothingListens) {
    TestEnvironment env;
    RefusingPort nothingListens;
    const auto start = Clock::now();
    const auto failure = env.makeDelegate()->refreshPairingCode();
    EXPECT_LT(secondsSince(start), 0.5);
    ASSERT_TRUE(failure);
    EXPECT_THAT(*failure, ::testing::MatchesRegex("Failed to connect to 127\\.0\\.0\\.1 port 50051 "
                                                  "after [0-9]+ ms: Couldn't connect to server"));
}

}  // namespace
}  // namespace companion::testing
