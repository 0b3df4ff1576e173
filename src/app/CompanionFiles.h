#pragma once

namespace companion {

// The names of everything the companion keeps on disk, relative to its two folders.
inline constexpr const char* kAppSupportRelativePath = "Orvane Pelix/Companion";
inline constexpr const char* kLogDirRelativePath = "Logs/Orvane Pelix";
inline constexpr const char* kDaemonConfigDirectoryName = "tarvelind";
inline constexpr const char* kPairingFileName = "pairing-code.json";
inline constexpr const char* kEventStoreFileName = "events.sqlite";
inline constexpr const char* kCaptureHelperPidFileName = "capture-helper.pid";
inline constexpr const char* kCaptureHelperScriptName = "run-capture-helper.sh";
inline constexpr const char* kCompanionDaemonLogName = "Orvane Pelix Companion.log";
inline constexpr const char* kCaptureHelperLogName = "Orvane Pelix Capture Helper.log";

// The two daemon executables among the application's resources.
inline constexpr const char* kDaemonResourceName = "tarvelind-darwin-arm64";
inline constexpr const char* kCaptureDaemonResourceName = "tarvelind-pcap-darwin-arm64";

}  // namespace companion
