#include "support/QrDecoder.h"

#include <zbar.h>

namespace companion::testing {

GreyImage renderQrSymbol(const QrSymbol& symbol, int scale, int quietModules) {
    const int side = (symbol.size + 2 * quietModules) * scale;
    GreyImage image{side, side,
                    std::vector<std::uint8_t>(static_cast<std::size_t>(side) * side, 255)};
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const int mx = x / scale - quietModules;
            const int my = y / scale - quietModules;
            if (mx >= 0 && my >= 0 && mx < symbol.size && my < symbol.size && symbol.dark(mx, my)) {
                image.pixels[static_cast<std::size_t>(y) * side + x] = 0;
            }
        }
    }
    return image;
}

std::vector<std::string> decodeQrCodes(const GreyImage& image) {
    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    // Raw bytes, without zbar's guess at a character set.
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY, 1);
    zbar::Image picture(image.width, image.height, "Y800", image.pixels.data(),
                        image.pixels.size());
    scanner.scan(picture);
    std::vector<std::string> texts;
    for (auto symbol = picture.symbol_begin(); symbol != picture.symbol_end(); ++symbol) {
        texts.push_back(symbol->get_data());
    }
    return texts;
}

}  // namespace companion::testing
