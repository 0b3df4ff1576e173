#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace companion {

class Ui;

// Reads an internet date-time (RFC 3339): "2025-03-01T14:05:09Z", with an optional fraction of a
// second and either "Z" or an offset such as "+02:00". Nothing else is accepted: no space for the
// "T", no missing zone, no impossible dates. Instants the clock cannot hold give nothing too.
std::optional<std::chrono::system_clock::time_point> parseInternetDateTime(std::string_view text);

// The event time as the digest shows it: the time of day in the user's short style, or the text
// unchanged when it is not an internet date-time.
std::string shortTime(const std::string& text, const Ui& ui);

}  // namespace companion
