#include <gtest/gtest.h>

#include "pairing/PairingLink.h"
#include "pairing/QrSymbol.h"
#include "support/QrDecoder.h"

namespace companion::testing {
namespace {

enum class Level { L, M, Q, H };

// Reads the error correction level from the format bits beside the top-left finder.
Level errorCorrectionLevel(const QrSymbol& symbol) {
    int bits = 0;
    for (int i = 0; i <= 5; ++i) {
        bits |= symbol.dark(8, i) << i;
    }
    bits |= symbol.dark(8, 7) << 6;
    bits |= symbol.dark(8, 8) << 7;
    bits |= symbol.dark(7, 8) << 8;
    for (int i = 9; i < 15; ++i) {
        bits |= symbol.dark(14 - i, 8) << i;
    }
    bits ^= 0x5412;
    switch (bits >> 13) {
        case 1:
            return Level::L;
        case 0:
            return Level::M;
        case 3:
            return Level::Q;
        default:
            return Level::H;
    }
}

struct SymbolCase {
    const char* name;
    std::string text;
    // Versions 1 to 40 run from 21 to 177 modules a side.
    int size;
};

class QrSymbolOf : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(QrSymbolOf, ScansBackToTheTextAtLevelMInTheSmallestVersion) {
    const auto symbol = qrSymbol(GetParam().text);
    ASSERT_TRUE(symbol);
    EXPECT_EQ(symbol->size, GetParam().size);
    EXPECT_EQ(errorCorrectionLevel(*symbol), Level::M);
    EXPECT_EQ(decodeQrCodes(renderQrSymbol(*symbol, 12, 4)),
              std::vector<std::string>{GetParam().text});
}

const std::string kHundred =
    pairingLink("studio.local", "50051", "042917", "sha256:" + std::string(20, 'f'));

INSTANTIATE_TEST_SUITE_P(
    Texts, QrSymbolOf,
    ::testing::Values(
        // Ten bytes leave room for level Q in version 1; the level stays M all the same.
        SymbolCase{"TenBytes", "0123456789", 21},
        SymbolCase{"FourteenBytesFillVersion1", "orvane-pelix:/", 21},
        SymbolCase{"FifteenBytesNeedVersion2", "orvane-pelix://", 25},
        SymbolCase{"HundredCharacterLink", kHundred, 41},
        SymbolCase{"Utf8Bytes", pairingLink("caf\xC3\xA9", "50051", "1", "f") + "\xC3\xA9", 37}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QrSymbol, HundredCharacterLinkIsAHundredCharacters) {
    EXPECT_EQ(kHundred.size(), 100u);
}

TEST(QrSymbol, NothingBeyondVersion40OrForBytesThatAreNotUtf8) {
    // 2331 bytes are the most that version 40 holds at level M.
    EXPECT_EQ(qrSymbol(std::string(2331, 'x'))->size, 177);
    EXPECT_EQ(qrSymbol(std::string(2332, 'x')), std::nullopt);
    EXPECT_EQ(qrSymbol("orvane-pelix://pair?host=\xFF"), std::nullopt);
}

}  // namespace
}  // namespace companion::testing
