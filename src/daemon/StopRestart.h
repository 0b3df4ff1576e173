#pragma once

#include <string>

#include "platform/Probes.h"

namespace companion {

// Asks the probe a tenth of a second apart, for about three seconds at most, until nothing
// listens on the port. Blocks its thread; needs no delegate, so a worker can wait without
// keeping one alive.
void waitForPortToClose(const PortProbe& probe, const std::string& port);

}  // namespace companion
