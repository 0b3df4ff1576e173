#pragma once

#include <memory>

#include "platform/AdminShellRunner.h"
#include "platform/ToolRunner.h"

namespace companion {

// pkexec /bin/sh -c COMMAND: polkit asks the user for the administrator's approval.
class PkexecAdminShellRunner : public AdminShellRunner {
  public:
    explicit PkexecAdminShellRunner(std::shared_ptr<ToolRunner> tools) : tools_(std::move(tools)) {}
    AdminShellResult run(const std::string& command) override;

  private:
    std::shared_ptr<ToolRunner> tools_;
};

}  // namespace companion
