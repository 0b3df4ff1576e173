#include "platform/linux/PkexecAdminShellRunner.h"

// Placeholder until the capture subsystem lands.
namespace companion {

AdminShellResult PkexecAdminShellRunner::run(const std::string&) {
    return AdminShellResult::failure("The administrator request was cancelled or failed.");
}

}  // namespace companion
