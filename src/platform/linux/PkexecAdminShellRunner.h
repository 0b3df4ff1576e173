#pragma once

#include <filesystem>
#include <memory>

#include "platform/AdminShellRunner.h"
#include "platform/ToolRunner.h"

namespace companion {

// pkexec /bin/sh -c COMMAND: polkit asks the user for the administrator's approval. Its
// refusals ("Request dismissed", "Not authorized") reach the user as its own words.
class PkexecAdminShellRunner : public AdminShellRunner {
  public:
    explicit PkexecAdminShellRunner(std::shared_ptr<ToolRunner> tools,
                                    std::filesystem::path pkexec = "/usr/bin/pkexec")
        : tools_(std::move(tools)), pkexec_(std::move(pkexec)) {}
    AdminShellResult run(const std::string& command) override;

  private:
    std::shared_ptr<ToolRunner> tools_;
    std::filesystem::path pkexec_;
};

}  // namespace companion
