#include <gtest/gtest.h>
#include <random>

#include "capture/ShellQuoting.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion {
namespace {

TEST(ShellQuoting, Examples) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "''"},
        {"'", "''\\'''"},
        {"/Users/a b/Application Support/x", "'/Users/a b/Application Support/x'"},
        {"it's", "'it'\\''s'"},
        {"$HOME \"\\ `x`\n*", "'$HOME \"\\ `x`\n*'"},
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(shellQuoted(text), quoted) << text;
    }
}

// Mostly the characters a shell treats specially, so every sample meets several of them.
std::vector<std::string> randomTexts(std::size_t count) {
    std::mt19937 random(20240611);
    const std::string special = "'\"\\$`!*?[]{}()<>|&;#~= \t\n\r-%";
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<std::size_t> pick(0, special.size() - 1);
    std::bernoulli_distribution preferSpecial(0.5);
    std::vector<std::string> texts(count);
    for (auto& text : texts) {
        for (int i = length(random); i > 0; --i) {
            text +=
                preferSpecial(random) ? special[pick(random)] : static_cast<char>(anyByte(random));
        }
    }
    return texts;
}

TEST(ShellQuoting, ShellsSeeExactlyTheOriginalBytes) {
    const auto texts = randomTexts(4000);
    constexpr std::size_t kBatch = 250;
    for (const char* shell : {"/bin/sh", "/bin/bash"}) {
        for (std::size_t first = 0; first < texts.size(); first += kBatch) {
            const std::size_t end = std::min(first + kBatch, texts.size());
            std::string command;
            for (std::size_t i = first; i < end; ++i) {
                command += "printf %s " + shellQuoted(texts[i]) + "; printf '\\000'\n";
            }
            const ToolResult result =
                PosixToolRunner().run(shell, {"-c", command}, ToolErrorOutput::MergeWithOutput);
            ASSERT_TRUE(result.succeeded()) << shell << ": " << result.output;
            std::size_t at = 0;
            for (std::size_t i = first; i < end; ++i) {
                const std::size_t terminator = result.output.find('\0', at);
                ASSERT_NE(terminator, std::string::npos) << shell << " lost sample " << i;
                ASSERT_EQ(result.output.substr(at, terminator - at), texts[i])
                    << shell << " changed sample " << i << ", quoted as " << shellQuoted(texts[i]);
                at = terminator + 1;
            }
            EXPECT_EQ(at, result.output.size()) << shell;
        }
    }
}

}  // namespace
}  // namespace companion
