#pragma once

#include <optional>
#include <string_view>

namespace companion {

// The process id in the capture helper's PID file: the whole text after trimming, as a positive
// decimal number that fits a process id. Anything else gives nothing.
std::optional<long long> parseCaptureHelperPid(std::string_view text);

}  // namespace companion
