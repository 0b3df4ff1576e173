#pragma once

#include <string>

// Why this test process has no network and mount namespaces of its own with loopback up, if so.
const std::string& privateNetworkProblem();

// Tests that bind port 50051, change the network or mount skip where they could not be had.
#define REQUIRE_PRIVATE_NETWORK()                                               \
    if (!privateNetworkProblem().empty()) {                                     \
        GTEST_SKIP() << "needs a private network: " << privateNetworkProblem(); \
    }
