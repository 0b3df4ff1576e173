#pragma once

#include <string>

// Empty when this test process has network and mount namespaces of its own, loopback up, else
// why not.
const std::string& privateNetworkProblem();

// Tests that bind port 50051, change the network or mount skip, saying why, where it could not
// be had.
#define REQUIRE_PRIVATE_NETWORK()                                               \
    if (!privateNetworkProblem().empty()) {                                     \
        GTEST_SKIP() << "needs a private network: " << privateNetworkProblem(); \
    }
