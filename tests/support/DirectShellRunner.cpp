#include "support/DirectShellRunner.h"

#include "capture/AdminShell.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::testing {

AdminShellResult DirectShellRunner::run(const std::string& command) {
    return adminShellResult(
        PosixToolRunner().run("/bin/sh", {"-c", command}, ToolErrorOutput::MergeWithOutput));
}

}  // namespace companion::testing
