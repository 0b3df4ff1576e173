#pragma once

#include <string>
#include <utility>

namespace companion {

// The outcome of one command run with administrator rights.
struct AdminShellResult {
    enum class Kind { failure, success };

    // A result nobody filled in is no proof the command ran.
    Kind kind = Kind::failure;
    // For a failure, the text meant for the user.
    std::string text;

    static AdminShellResult failure(std::string message) {
        return {Kind::failure, std::move(message)};
    }
    static AdminShellResult success() { return {Kind::success, {}}; }
    bool isSuccess() const { return kind == Kind::success; }
    bool operator==(const AdminShellResult&) const = default;
};

}  // namespace companion
