#include "pairing/PairingLink.h"

#include "app/CompanionAppDelegate.h"
#include "app/Text.h"

namespace companion {

namespace {

bool isQueryAllowed(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    constexpr std::string_view kPunctuation = "!$&'()*+,-./:;=?@_~";
    return kPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string queryEncoded(std::string_view value) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    // Byte by byte is the same as character by character over UTF-8, so it never fails.
    for (const char byte : value) {
        const auto c = static_cast<unsigned char>(byte);
        if (isQueryAllowed(c)) {
            encoded.push_back(byte);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        }
    }
    return encoded;
}

std::string pairingLink(std::string_view host, std::string_view port, std::string_view code,
                        std::string_view fingerprint) {
    std::string link = "orvane-pelix://pair?host=";
    link += queryEncoded(host);
    link += "&port=";
    link += port;
    link += "&code=";
    link += queryEncoded(code);
    link += "&fingerprint=";
    link += queryEncoded(fingerprint);
    return link;
}

std::string pairingHostFromSystemName(const std::optional<std::string>& systemName) {
    if (!systemName || !isValidUtf8(*systemName)) {
        return "localhost";
    }
    const std::string name = trimWhitespaceAndNewlines(*systemName);
    return name.empty() ? "localhost" : name + ".local";
}

std::string CompanionAppDelegate::localPairingHost(const PairingPayload& payload) const {
    // A name the daemon put in its file wins; the system's own is only the fallback.
    if (auto host = payload.find("host"); host != payload.end() && !host->second.empty()) {
        return host->second;
    }
    return pairingHostFromSystemName(platform.hostNameSource->localHostName());
}

}  // namespace companion
