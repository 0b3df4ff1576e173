#include "capture/AdminShell.h"

#include <thread>
#include <utility>

#include "app/CompanionAppDelegate.h"
#include "app/Text.h"

namespace companion {

AdminShellResult adminShellResult(const ToolResult& tool) {
    if (tool.launchError) {
        return AdminShellResult::failure(*tool.launchError);
    }
    // A tool ended by a signal has no status; that is no success either.
    if (tool.exitStatus == 0) {
        return AdminShellResult::success();
    }
    if (!isValidUtf8(tool.output)) {
        return AdminShellResult::failure(kAdminRequestFailedText);
    }
    std::string message = trimWhitespaceAndNewlines(tool.output);
    if (message.empty()) {
        return AdminShellResult::failure(kAdminRequestFailedText);
    }
    return AdminShellResult::failure(std::move(message));
}

void CompanionAppDelegate::runAdminShell(const std::string& command,
                                         std::function<void(AdminShellResult)> completion) {
    // The worker holds the runner, not the delegate, so the delegate is never destroyed on it.
    // Nothing serialises requests: each gets a thread of its own, blocked as long as the
    // authorisation dialog stays open.
    std::thread([runner = platform.adminShellRunner, command, completion = std::move(completion)] {
        completion(runner->run(command));
    }).detach();
}

}  // namespace companion
