#include "pairing/QrSymbol.h"

#include <cstdint>
#include <qrcodegen/qrcodegen.hpp>
#include <vector>

#include "app/Text.h"

namespace companion {

std::optional<QrSymbol> qrSymbol(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    using qrcodegen::QrCode;
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    try {
        const QrCode code =
            QrCode::encodeSegments({qrcodegen::QrSegment::makeBytes(bytes)}, QrCode::Ecc::MEDIUM,
                                   QrCode::MIN_VERSION, QrCode::MAX_VERSION, -1, false);
        QrSymbol symbol;
        symbol.size = code.getSize();
        symbol.modules.reserve(static_cast<std::size_t>(symbol.size) * symbol.size);
        for (int y = 0; y < symbol.size; ++y) {
            for (int x = 0; x < symbol.size; ++x) {
                symbol.modules.push_back(code.getModule(x, y));
            }
        }
        return symbol;
    } catch (const qrcodegen::data_too_long&) {
        return std::nullopt;
    }
}

}  // namespace companion
