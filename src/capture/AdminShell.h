#pragma once

#include "capture/AdminShellResult.h"
#include "platform/ToolRunner.h"

namespace companion {

inline constexpr const char* kAdminRequestFailedText =
    "The administrator request was cancelled or failed.";

// What an elevation tool's run means for the user. Exit status 0 is success whatever the tool
// wrote; any other end reports the tool's own words, trimmed, or a fixed sentence when it said
// nothing readable. Shared by every administrator runner, so they all read alike.
AdminShellResult adminShellResult(const ToolResult& tool);

}  // namespace companion
