#pragma once

#include "capture/AdminShell.h"
#include "platform/AdminShellRunner.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::testing {

// Runs the command as the user with /bin/sh -c, where the shipped runners would ask for the
// administrator. Only the end-to-end build has it: the application never contains it.
struct DirectShellRunner : AdminShellRunner {
    AdminShellResult run(const std::string& command) override {
        return adminShellResult(
            PosixToolRunner().run("/bin/sh", {"-c", command}, ToolErrorOutput::MergeWithOutput));
    }
};

}  // namespace companion::testing
