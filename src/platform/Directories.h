#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace companion {

// The user's folders, asked anew on every call: nothing is cached.
class Directories {
  public:
    virtual ~Directories() = default;
    // Application Support on macOS; $XDG_DATA_HOME or ~/.local/share here.
    virtual std::filesystem::path applicationSupportDirectory() const = 0;
    // Library on macOS (for Logs/...); $XDG_STATE_HOME or ~/.local/state here.
    virtual std::filesystem::path libraryDirectory() const = 0;
};

// The application's resources, found relative to the executable.
class Bundle {
  public:
    virtual ~Bundle() = default;
    // The path of the named resource, or nothing when the application does not contain it.
    virtual std::optional<std::filesystem::path> resource(const std::string& name) const = 0;
};

}  // namespace companion
