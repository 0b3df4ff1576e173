#include "platform/posix/OsascriptAdminShellRunner.h"

#include "capture/AdminShell.h"
#include "capture/AppleScript.h"

namespace companion {

AdminShellResult OsascriptAdminShellRunner::run(const std::string& command) {
    return adminShellResult(
        tools_->run(osascript_, osascriptArguments(command), ToolErrorOutput::MergeWithOutput));
}

}  // namespace companion
