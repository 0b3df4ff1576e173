#pragma once

#include "platform/AdminShellRunner.h"

namespace companion::testing {

// Runs the command as the test's own user with /bin/sh -c, where the shipped runners would ask
// for the administrator. Only for tests: the application never contains it.
class DirectShellRunner : public AdminShellRunner {
  public:
    AdminShellResult run(const std::string& command) override;
};

}  // namespace companion::testing
