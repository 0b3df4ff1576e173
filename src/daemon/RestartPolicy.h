#pragma once

#include <string>
#include <vector>

#include "platform/MainQueue.h"

namespace companion {

// Drops the exits that lie a whole window or more in the past; exits stamped later than now
// (the clock was set back) stay. Answers how many remain.
std::size_t pruneRestartFailures(std::vector<WallClock::time_point>& failures,
                                 WallClock::time_point now, double windowSeconds);

// The wait before the restart that follows n counted exits: 1, 2, 4, ... seconds, at most 30.
double restartDelay(std::size_t previousFailures);

// What the give-up alert tells the user.
std::string repeatedCrashesText(int maxFailures, double windowSeconds);

}  // namespace companion
