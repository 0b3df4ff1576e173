#pragma once

#include "platform/ToolRunner.h"

namespace companion {

class PosixToolRunner : public ToolRunner {
  public:
    ToolResult run(const std::filesystem::path& tool, const std::vector<std::string>& arguments,
                   ToolErrorOutput errorOutput) override;
};

}  // namespace companion
