#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

struct PayloadCase {
    const char* name;
    std::string file;
    std::optional<PairingPayload> expected;
};

class PairingPayloadFile : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(PairingPayloadFile, KeepsStringMembersOfAnObjectOnly) {
    TestEnvironment env;
    writeFile(env.configDirectory() / "pairing-code.json", GetParam().file);
    EXPECT_EQ(env.makeDelegate()->readPairingPayload(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, PairingPayloadFile,
    ::testing::Values(
        PayloadCase{"DaemonsFile",
                    R"({"pairingCode": "042917", "serverFingerprint": "sha256:ab:cd",
                        "issuedAt": "2026-01-02T03:04:05Z", "version": 2})",
                    PairingPayload{{"pairingCode", "042917"},
                                   {"serverFingerprint", "sha256:ab:cd"},
                                   {"issuedAt", "2026-01-02T03:04:05Z"}}},
        PayloadCase{
            "OtherTypesDropped",
            R"({"pairingCode": "1", "n": 7, "b": true, "z": null, "a": ["x"], "o": {"k": "v"}})",
            PairingPayload{{"pairingCode", "1"}}},
        PayloadCase{
            "ValuesUnchanged", R"({"pairingCode": " 12 34\n", "host": "", "e": "caf\u00e9"})",
            PairingPayload{{"pairingCode", " 12 34\n"}, {"host", ""}, {"e", "caf\xC3\xA9"}}},
        PayloadCase{"EmptyObject", "{}", PairingPayload{}},
        PayloadCase{"NoStringMembers", R"({"n": 1})", PairingPayload{}},
        PayloadCase{"Array", R"(["pairingCode", "1"])", std::nullopt},
        PayloadCase{"EmptyFile", "", std::nullopt},
        PayloadCase{"BareString", R"("042917")", std::nullopt},
        PayloadCase{"BareNumber", "42", std::nullopt},
        PayloadCase{"Truncated", R"({"pairingCode": "0429)", std::nullopt},
        PayloadCase{"TrailingGarbage", R"({"pairingCode": "1"} x)", std::nullopt},
        PayloadCase{"NotUtf8", "{\"pairingCode\": \"\xFF\xFE\"}", std::nullopt},
        PayloadCase{"LoneSurrogate", R"({"pairingCode": "\ud800"})", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PairingPayload, AbsentWhenTheFileIsMissingOrAFolder) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    EXPECT_EQ(delegate->readPairingPayload(), std::nullopt);
    fs::create_directories(env.configDirectory() / "pairing-code.json");
    EXPECT_EQ(delegate->readPairingPayload(), std::nullopt);
}

TEST(PairingPayload, ReadsAtMostOneMebibyte) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    const auto file = env.configDirectory() / "pairing-code.json";
    const std::string frame = R"({"pairingCode": "1", "pad": ""})";
    std::string exactly(1024 * 1024 - frame.size(), 'x');
    writeFile(file, R"({"pairingCode": "1", "pad": ")" + exactly + R"("})");
    ASSERT_EQ(fs::file_size(file), 1024u * 1024u);
    EXPECT_EQ(delegate->readPairingPayload()->at("pad").size(), exactly.size());

    writeFile(file, R"({"pairingCode": "1", "pad": ")" + exactly + R"(x"})");
    EXPECT_EQ(delegate->readPairingPayload(), std::nullopt);
}

TEST(PairingPayload, NeverBlocksOnAFifoOrAnEndlessDevice) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    const auto file = env.configDirectory() / "pairing-code.json";
    fs::create_directories(env.configDirectory());
    const std::vector<std::function<void()>> impostors = {
        [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
        [&] { fs::create_symlink("/dev/zero", file); },
    };
    for (const auto& putInPlace : impostors) {
        fs::remove(file);
        putInPlace();
        // On a thread of its own, so a read that blocks fails the test instead of hanging it.
        auto read = std::async(std::launch::async, [&] { return delegate->readPairingPayload(); });
        const bool finished = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!finished) {
            // A writer that comes and goes lets a reader stuck on the FIFO see its end.
            ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));
        }
        ASSERT_TRUE(finished) << file;
        EXPECT_EQ(read.get(), std::nullopt);
    }
}

}  // namespace
}  // namespace companion::testing
