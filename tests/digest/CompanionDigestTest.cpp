#include <gtest/gtest.h>

#include "digest/CompanionDigest.h"

namespace companion::testing {
namespace {

TEST(CompanionDigestQuery, IsTheFixedFiveLinesWithoutTrailingNewline) {
    EXPECT_EQ(kCompanionDigestQuery.size(), 183u);
    EXPECT_TRUE(kCompanionDigestQuery.starts_with("SELECT created_at, kind, severity, summary\n"));
    EXPECT_TRUE(kCompanionDigestQuery.ends_with("ORDER BY cursor DESC\nLIMIT 8;"));
}

const char* const kRow =
    R"({"created_at":"2025-03-01T14:05:09Z","kind":"lan.joined","severity":"info","summary":"A"})";

struct DecodeCase {
    const char* name;
    std::string json;
    // How many rows decode; absent when the whole output fails.
    std::optional<std::size_t> rows;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeRows : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRows, DecodesWholeArraysOnly) {
    const auto rows = decodeCompanionDigestRows(GetParam().json);
    ASSERT_EQ(rows.has_value(), GetParam().rows.has_value());
    if (rows) {
        EXPECT_EQ(rows->size(), *GetParam().rows);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, DecodeRows,
    ::testing::Values(
        DecodeCase{"EmptyArray", "[]", 0}, DecodeCase{"OneRow", std::string("[") + kRow + "]\n", 1},
        DecodeCase{"ExtraKeyIgnored",
                   R"([{"cursor":7,"created_at":"t","kind":"k","severity":"s","summary":"x"}])", 1},
        DecodeCase{"NullSummary",
                   R"([{"created_at":"t","kind":"k","severity":"s","summary":null}])",
                   std::nullopt},
        DecodeCase{"NumberSeverity",
                   R"([{"created_at":"t","kind":"k","severity":3,"summary":"x"}])", std::nullopt},
        DecodeCase{"MissingKey", R"([{"created_at":"t","kind":"k","summary":"x"}])", std::nullopt},
        DecodeCase{"KeysAreCaseSensitive",
                   R"([{"Created_At":"t","kind":"k","severity":"s","summary":"x"}])", std::nullopt},
        DecodeCase{"OneBadAmongGood", std::string("[") + kRow + "," + kRow + ",{}]", std::nullopt},
        DecodeCase{"Truncated", std::string("[") + kRow + ",\n{\"created_at\":\"2025",
                   std::nullopt},
        DecodeCase{"Object", kRow, std::nullopt},
        DecodeCase{"Text", "Error: no such table", std::nullopt},
        DecodeCase{
            "InvalidUtf8",
            "[{\"created_at\":\"t\",\"kind\":\"k\",\"severity\":\"s\",\"summary\":\"\xff\"}]",
            std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompanionDigestOutcome, FollowsTheToolsOutput) {
    EXPECT_EQ(companionDigestFromOutput(std::nullopt).title, "Could not read companion history");
    EXPECT_EQ(companionDigestFromOutput("[{\"kind\":\"k\"}]").title,
              "Could not read companion history");
    // A clean run that prints nothing is the tool's way of saying that no row qualified.
    for (const char* quiet : {"", "\n", " \r\n\t", "[]"}) {
        const auto snapshot = companionDigestFromOutput(std::string(quiet));
        EXPECT_EQ(snapshot.title, "All steady") << '"' << quiet << '"';
        EXPECT_EQ(snapshot.detail,
                  "No stored companion changes yet. Stable networks are quiet by design.");
        EXPECT_TRUE(snapshot.rows.empty());
    }
}

}  // namespace
}  // namespace companion::testing
