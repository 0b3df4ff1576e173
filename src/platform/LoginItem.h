#pragma once

#include <optional>
#include <string>

namespace companion {

// The values match the macOS service's status so both platforms read alike.
enum class LoginItemStatus {
    NotRegistered = 0,
    Enabled = 1,
    RequiresApproval = 2,
    NotFound = 3,
};

// Whether the system starts the companion when the user logs in.
class LoginItem {
  public:
    virtual ~LoginItem() = default;
    // Read from the system every time.
    virtual LoginItemStatus status() const = 0;
    // Each answers a description the user can read on failure, nothing on success.
    virtual std::optional<std::string> registerItem() = 0;
    virtual std::optional<std::string> unregisterItem() = 0;
};

}  // namespace companion
