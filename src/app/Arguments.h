#pragma once

#include <string>
#include <vector>

namespace companion {

// What the command line asks for. The companion has two options of its own; the toolkit's
// options that every Qt program takes (-platform, -display, -style, ...) pass through to it.
struct LaunchChoice {
    enum class Kind { Run, Help, Version, Unknown };
    Kind kind = Kind::Run;
    std::string unknown;  // the argument that was not understood
};

// The arguments without the program's own name.
LaunchChoice chooseLaunch(const std::vector<std::string>& arguments);

// What --help prints, also after an argument that was not understood.
std::string usageText();
// What --version prints.
std::string versionText();

}  // namespace companion
