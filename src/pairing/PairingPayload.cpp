#include "pairing/PairingPayload.h"

#include <nlohmann/json.hpp>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"
#include "platform/Files.h"

namespace companion {

std::optional<PairingPayload> parsePairingPayload(std::string_view bytes) {
    // Without exceptions a failed parse answers a discarded value; the parser itself refuses
    // ill-formed UTF-8, so every text below is valid UTF-8.
    const auto document = nlohmann::json::parse(bytes, nullptr, false);
    if (!document.is_object()) {
        return std::nullopt;
    }
    PairingPayload payload;
    for (const auto& [name, value] : document.items()) {
        if (value.is_string()) {
            payload.emplace(name, value.get<std::string>());
        }
    }
    return payload;
}

std::optional<PairingPayload> CompanionAppDelegate::readPairingPayload() const {
    // Only a regular file of bounded size: a FIFO would block the main thread and a link to a
    // device could feed it without end.
    const auto bytes =
        readSmallRegularFile(daemonConfigDirectory() / kPairingFileName, kMaxPairingFileBytes);
    if (!bytes) {
        return std::nullopt;
    }
    return parsePairingPayload(*bytes);
}

}  // namespace companion
