#include "PairingFile.h"

#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "Rfc3339.h"

namespace tarvelind {

std::optional<std::string> newPairingCode() {
    constexpr std::uint32_t kCodes = 1'000'000;
    // Draws at or above the largest multiple of kCodes would make the low codes more likely;
    // they are thrown back.
    constexpr std::uint32_t kLimit = std::numeric_limits<std::uint32_t>::max() -
                                     std::numeric_limits<std::uint32_t>::max() % kCodes;
    std::uint32_t draw = 0;
    do {
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&draw), sizeof draw) != 1) {
            return std::nullopt;
        }
    } while (draw >= kLimit);
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(draw % kCodes));
    return text;
}

std::string pairingFileText(const std::string& code, const std::string& fingerprint,
                            const std::string& issuedAt) {
    nlohmann::ordered_json object = {
        {"pairingCode", code}, {"serverFingerprint", fingerprint}, {"issuedAt", issuedAt}};
    return object.dump(2) + "\n";
}

PairingIssuer::PairingIssuer(std::filesystem::path file, std::string fingerprint,
                             std::optional<FileOwner> owner)
    : file_(std::move(file)), fingerprint_(std::move(fingerprint)), owner_(owner) {}

PairingIssuer::Outcome PairingIssuer::issue() {
    auto code = newPairingCode();
    if (!code)
        return {std::nullopt, "the random generator failed to produce a pairing code"};
    std::lock_guard lock(mutex_);
    std::string issuedAt = rfc3339Now();
    if (auto error = writeFileAtomically(file_, pairingFileText(*code, fingerprint_, issuedAt),
                                         0600, owner_)) {
        return {std::nullopt, *error};
    }
    return {issuedAt, {}};
}

}  // namespace tarvelind
