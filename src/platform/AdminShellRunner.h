#pragma once

#include <string>

#include "capture/AdminShellResult.h"

namespace companion {

// Runs one shell command line with administrator rights, asking the user through the system's
// own authorisation dialog. Blocks its thread for as long as the dialog and the command take;
// never call it on the main thread.
class AdminShellRunner {
  public:
    virtual ~AdminShellRunner() = default;
    virtual AdminShellResult run(const std::string& command) = 0;
};

}  // namespace companion
