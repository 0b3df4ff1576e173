#pragma once

#include <string>

namespace tarvelind {

/// True for 127.0.0.0/8, ::1 and IPv4 loopback seen through a v4-mapped IPv6 address: the peers
/// that can only be a program on this machine.
bool isLoopbackPeer(const std::string& address);

}  // namespace tarvelind
