#include <gtest/gtest.h>

#include "PeerAddress.h"

namespace tarvelind {
namespace {

// Only the companion on this machine may mint pairing codes; tests cannot reach the daemon from
// any other address, so the rule is checked here.
TEST(PeerAddress, OnlyLoopbackPeersCount) {
    for (const char* address : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"}) {
        EXPECT_TRUE(isLoopbackPeer(address)) << address;
    }
    for (const char* address : {"192.168.1.2", "10.0.0.1", "128.0.0.1", "::ffff:10.0.0.1",
                                "fe80::1", "::", "", "localhost", "127.0.0.1x"}) {
        EXPECT_FALSE(isLoopbackPeer(address)) << address;
    }
}

}  // namespace
}  // namespace tarvelind
