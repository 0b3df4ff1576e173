#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace companion {

// The command as the body of an AppleScript string literal. Backslashes are doubled first, so
// the backslashes added for double quotes and line feeds are not doubled again; nothing else is
// touched.
std::string appleScriptEscaped(std::string_view command);

// The one-line script that runs the command as the administrator.
std::string administratorAppleScript(std::string_view command);

// The script runner's arguments for the command.
std::vector<std::string> osascriptArguments(std::string_view command);

}  // namespace companion
