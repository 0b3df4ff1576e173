#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace companion {

// Percent-encodes every byte outside the URL query character set (letters, digits and
// !$&'()*+,-./:;=?@_~) as "%" and two upper-case hex digits. "&" and "=" pass unchanged, as the
// iPhone app expects.
std::string queryEncoded(std::string_view value);

// The link the iPhone app opens: host, code and fingerprint query-encoded, the port as it is.
std::string pairingLink(std::string_view host, std::string_view port, std::string_view code,
                        std::string_view fingerprint);

// The LAN name for the system's host name: trimmed and with ".local" added, or "localhost" when
// there is no usable name.
std::string pairingHostFromSystemName(const std::optional<std::string>& systemName);

}  // namespace companion
