#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelind {

struct InterfaceState {
    bool up = false;                  // administratively up and with a carrier
    std::set<std::string> addresses;  // "192.168.1.20/24", "fe80::1/64"
    bool operator==(const InterfaceState&) const = default;
};

struct Gateway {
    std::string address;  // "0.0.0.0" for a default route straight out of an interface
    std::string interfaceName;
    bool operator==(const Gateway&) const = default;
};

struct Neighbor {
    std::string hardwareAddress;
    std::string interfaceName;
    bool operator==(const Neighbor&) const = default;
};

/// What this machine currently knows about its network, as read from the kernel.
struct LanView {
    std::map<std::string, InterfaceState> interfaces;  // by name, loopback left out
    std::optional<Gateway> gateway;
    std::map<std::string, Neighbor> neighbors;  // by IP address
    bool operator==(const LanView&) const = default;
};

/// A view, or why one of its sources could not be read. A source that cannot be read says
/// nothing about the network, so a failed reading is never taken for an empty one.
struct LanReading {
    std::optional<LanView> view;
    std::string failure;
};

struct LanEvent {
    std::string kind;
    std::string severity;  // "info", "notice" or "warning"
    std::string summary;   // one sentence
    bool operator==(const LanEvent&) const = default;
};

/// Every change from `before` to `after`, one event each, in a stable order: interfaces by
/// name, then the gateway, then neighbours by address.
std::vector<LanEvent> diffLanViews(const LanView& before, const LanView& after);

/// One sentence describing the whole view, for the baseline and the periodic snapshots.
std::string describeLanView(const LanView& view);

/// The default IPv4 route with the lowest metric from the text of /proc/net/route.
std::optional<Gateway> parseDefaultRoute(std::string_view procNetRoute);

/// The complete entries of the text of /proc/net/arp.
std::map<std::string, Neighbor> parseArpTable(std::string_view procNetArp);

}  // namespace tarvelind
