#include <gtest/gtest.h>

#include "pairing/PairingLink.h"
#include "platform/posix/PosixProbes.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

struct LinkCase {
    const char* name;
    std::string host;
    std::string code;
    std::string fingerprint;
    std::string expected;
};

class PairingLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(PairingLink, EncodesValuesButNotThePort) {
    const LinkCase& link = GetParam();
    EXPECT_EQ(pairingLink(link.host, "50051", link.code, link.fingerprint), link.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PairingLink,
    ::testing::Values(
        LinkCase{"Plain", "studio.local", "042917", "sha256:AB:cd",
                 "orvane-pelix://pair?host=studio.local&port=50051&code=042917"
                 "&fingerprint=sha256:AB:cd"},
        LinkCase{"SpaceIsPercent20", "Jo's Mac.local", "1 2", "f",
                 "orvane-pelix://pair?host=Jo's%20Mac.local&port=50051&code=1%202&fingerprint=f"},
        LinkCase{"QuerySetPassesUnencoded", "h", "a&b=c+d?e/f", "!$&'()*+,-./:;=?@_~",
                 "orvane-pelix://pair?host=h&port=50051&code=a&b=c+d?e/f"
                 "&fingerprint=!$&'()*+,-./:;=?@_~"},
        LinkCase{"OthersAsUpperCaseUtf8Bytes", "caf\xC3\xA9", "#%\"<>[]\\^`{|}", "\t\n",
                 "orvane-pelix://pair?host=caf%C3%A9&port=50051"
                 "&code=%23%25%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D&fingerprint=%09%0A"},
        LinkCase{"EmptyValues", "localhost", "", "",
                 "orvane-pelix://pair?host=localhost&port=50051&code=&fingerprint="}),
    [](const auto& info) { return std::string(info.param.name); });

struct HostCase {
    const char* name;
    std::optional<std::string> systemName;
    std::string expected;
};

class PairingHostFromSystemName : public ::testing::TestWithParam<HostCase> {};

TEST_P(PairingHostFromSystemName, TrimsAndAddsLocal) {
    EXPECT_EQ(pairingHostFromSystemName(GetParam().systemName), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PairingHostFromSystemName,
    ::testing::Values(HostCase{"Name", "studio", "studio.local"},
                      HostCase{"LineFeed", "studio\n", "studio.local"},
                      HostCase{"Surrounded", " \t studio \r\n", "studio.local"},
                      HostCase{"UnicodeSpace", "\xC2\xA0studio\xE3\x80\x80", "studio.local"},
                      HostCase{"Empty", "", "localhost"},
                      HostCase{"WhiteSpaceOnly", " \n\t", "localhost"},
                      HostCase{"NoName", std::nullopt, "localhost"},
                      HostCase{"NotUtf8",
                               "stu\xFF"
                               "dio",
                               "localhost"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LocalPairingHost, PrefersTheDaemonsNonEmptyHost) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    EXPECT_EQ(delegate->localPairingHost({{"host", " relay.example "}}), " relay.example ");
    const std::string system = pairingHostFromSystemName(PosixHostNameSource().localHostName());
    EXPECT_EQ(delegate->localPairingHost({{"host", ""}}), system);
    EXPECT_EQ(delegate->localPairingHost({}), system);
}

TEST(PairingWindowContent, ComposesEveryText) {
    const auto content = pairingWindowContent("042917", "localhost", "orvane-pelix://pair?host=x");
    EXPECT_EQ(content.windowTitle, "Orvane Pelix Pairing");
    EXPECT_EQ(content.title, "Pair Orvane Pelix");
    EXPECT_EQ(content.instruction, "Scan with Orvane Pelix on your iPhone.");
    EXPECT_EQ(content.code, "042917");
    EXPECT_EQ(content.note,
              "Ready on localhost:50051. The iPhone verifies this companion automatically.");
    EXPECT_EQ(content.copyButtonTitle, "Copy Pairing Link");
    EXPECT_EQ(content.pairingURL, "orvane-pelix://pair?host=x");
    EXPECT_TRUE(content.qr);

    EXPECT_EQ(pairingWindowContent("", "a b", "l").code, "");
    EXPECT_EQ(pairingWindowContent("", "a b", "l").note,
              "Ready on a b:50051. The iPhone verifies this companion automatically.");
}

}  // namespace
}  // namespace companion::testing
