#include "platform/linux/PkexecAdminShellRunner.h"

#include "capture/AdminShell.h"

namespace companion {

AdminShellResult PkexecAdminShellRunner::run(const std::string& command) {
    return adminShellResult(
        tools_->run(pkexec_, {"/bin/sh", "-c", command}, ToolErrorOutput::MergeWithOutput));
}

}  // namespace companion
