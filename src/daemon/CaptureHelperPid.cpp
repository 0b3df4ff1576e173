#include "daemon/CaptureHelperPid.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"
#include "platform/Files.h"
#include "app/Text.h"

namespace companion {

namespace {

// A PID file holds a handful of digits; anything longer is not one.
constexpr std::size_t kMaxPidFileBytes = 4096;

}  // namespace

std::optional<long long> parseCaptureHelperPid(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    const std::string trimmed = trimWhitespaceAndNewlines(text);
    std::string_view digits = trimmed;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    if (negative || value <= 0 || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return value;
}

std::optional<long long> CompanionAppDelegate::captureHelperPID() {
    const auto pidFile = appSupport() / kCaptureHelperPidFileName;
    const auto text = readSmallRegularFile(pidFile, kMaxPidFileBytes);
    if (!text) {
        return std::nullopt;
    }
    const auto pid = parseCaptureHelperPid(*text);
    if (!pid) {
        return std::nullopt;
    }
    const auto forgetStaleFile = [&]() -> std::optional<long long> {
        std::error_code ignored;
        std::filesystem::remove(pidFile, ignored);
        return std::nullopt;
    };
    switch (platform.processProbe->probe(*pid)) {
        case ProcessProbeResult::Alive:
        case ProcessProbeResult::NotPermitted:
            break;
        case ProcessProbeResult::NoSuchProcess:
        case ProcessProbeResult::Failed:
            return forgetStaleFile();
    }
    // After a reboot or a crash the number may belong to an unrelated process: counting it would
    // keep the daemon off for good and aim the administrator's kill at a stranger.
    const auto program = platform.processProbe->programName(*pid);
    if (program && *program != kCaptureDaemonResourceName) {
        return forgetStaleFile();
    }
    return pid;
}

}  // namespace companion
