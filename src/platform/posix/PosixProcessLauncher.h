#pragma once

#include "platform/ProcessLauncher.h"

namespace companion {

// Starts children with posix_spawn and watches each from a waiter thread of its own.
class PosixProcessLauncher : public ProcessLauncher {
  public:
    LaunchResult launch(const LaunchRequest& request, TerminationHandler onTermination) override;
};

}  // namespace companion
