#pragma once

#include <string>

// Empty when this test process runs in a network namespace of its own with loopback up;
// otherwise why not.
const std::string& privateNetworkProblem();

// For tests that bind port 50051 or change the network: they skip, saying why, where the
// namespace could not be had.
#define REQUIRE_PRIVATE_NETWORK()                                               \
    if (!privateNetworkProblem().empty()) {                                     \
        GTEST_SKIP() << "needs a private network: " << privateNetworkProblem(); \
    }
