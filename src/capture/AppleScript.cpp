#include "capture/AppleScript.h"

namespace companion {

namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string appleScriptEscaped(std::string_view command) {
    std::string escaped(command);
    replaceAll(escaped, "\\", "\\\\");
    replaceAll(escaped, "\"", "\\\"");
    replaceAll(escaped, "\n", "\\n");
    return escaped;
}

std::string administratorAppleScript(std::string_view command) {
    return "do shell script \"" + appleScriptEscaped(command) + "\" with administrator privileges";
}

std::vector<std::string> osascriptArguments(std::string_view command) {
    return {"-e", administratorAppleScript(command)};
}

}  // namespace companion
