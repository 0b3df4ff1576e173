#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "FileWriting.h"

namespace tarvelind {

/// Six decimal digits drawn uniformly from OpenSSL's generator, or nothing if it failed.
std::optional<std::string> newPairingCode();

/// The pairing file's JSON object, with a trailing line feed.
std::string pairingFileText(const std::string& code, const std::string& fingerprint,
                            const std::string& issuedAt);

/// Mints pairing codes and keeps the pairing file in step with the latest one. Safe to call from
/// several threads: issues are serialised so the file always holds the code last handed out.
class PairingIssuer {
  public:
    PairingIssuer(std::filesystem::path file, std::string fingerprint,
                  std::optional<FileOwner> owner);

    /// Writes a fresh code; returns the time it was issued, or an error text.
    struct Outcome {
        std::optional<std::string> issuedAt;
        std::string error;
    };
    Outcome issue();

  private:
    std::mutex mutex_;
    std::filesystem::path file_;
    std::string fingerprint_;
    std::optional<FileOwner> owner_;
};

}  // namespace tarvelind
