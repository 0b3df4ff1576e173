#pragma once

#include <filesystem>
#include <memory>

#include "platform/AdminShellRunner.h"
#include "platform/ToolRunner.h"

namespace companion {

// macOS: "do shell script ... with administrator privileges" through the system's script
// runner, which shows its own authorisation dialog.
class OsascriptAdminShellRunner : public AdminShellRunner {
  public:
    explicit OsascriptAdminShellRunner(std::shared_ptr<ToolRunner> tools,
                                       std::filesystem::path osascript = "/usr/bin/osascript")
        : tools_(std::move(tools)), osascript_(std::move(osascript)) {}
    AdminShellResult run(const std::string& command) override;

  private:
    std::shared_ptr<ToolRunner> tools_;
    std::filesystem::path osascript_;
};

}  // namespace companion
