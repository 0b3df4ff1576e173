#include "LanView.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdint>
#include <sstream>

namespace tarvelind {
namespace {

std::string describe(const Gateway& gateway) {
    if (gateway.address == "0.0.0.0")
        return "a direct route out of " + gateway.interfaceName;
    return gateway.address + " on " + gateway.interfaceName;
}

std::string describe(const std::string& ip, const Neighbor& neighbor) {
    return ip + " (" + neighbor.hardwareAddress + ") on " + neighbor.interfaceName;
}

std::string plural(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

template <typename Map, typename Visit>
void walkUnion(const Map& before, const Map& after, Visit visit) {
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->first < a->first)) {
            visit(b->first, &b->second, nullptr);
            ++b;
        } else if (b == before.end() || a->first < b->first) {
            visit(a->first, nullptr, &a->second);
            ++a;
        } else {
            visit(a->first, &b->second, &a->second);
            ++a;
            ++b;
        }
    }
}

std::optional<std::uint32_t> parseHex(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X"))
        text.remove_prefix(2);
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

/// The whitespace-separated fields of each line after the heading line.
std::vector<std::vector<std::string>> tableRows(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines{std::string(text)};
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string field; fields >> field;)
            row.push_back(field);
        if (!row.empty())
            rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::vector<LanEvent> diffLanViews(const LanView& before, const LanView& after) {
    std::vector<LanEvent> events;
    static const InterfaceState kAbsent;

    walkUnion(
        before.interfaces, after.interfaces,
        [&](const std::string& name, const InterfaceState* was, const InterfaceState* is) {
            const InterfaceState& old = was ? *was : kAbsent;
            const InterfaceState& now = is ? *is : kAbsent;
            if (!old.up && now.up) {
                events.push_back({"lan.interface.up", "info", "Interface " + name + " came up."});
            } else if (old.up && !now.up) {
                events.push_back(
                    {"lan.interface.down", "notice", "Interface " + name + " went down."});
            }
            for (const auto& address : old.addresses) {
                if (!now.addresses.contains(address)) {
                    events.push_back({"lan.address.removed", "notice",
                                      "Interface " + name + " lost the address " + address + "."});
                }
            }
            for (const auto& address : now.addresses) {
                if (!old.addresses.contains(address)) {
                    events.push_back(
                        {"lan.address.added", "info",
                         "Interface " + name + " gained the address " + address + "."});
                }
            }
        });

    if (before.gateway != after.gateway) {
        // A gateway that moves or vanishes is how a rogue router shows itself, so it is the
        // loudest of these events.
        if (before.gateway && after.gateway) {
            events.push_back({"lan.gateway.changed", "warning",
                              "The default gateway changed from " + describe(*before.gateway) +
                                  " to " + describe(*after.gateway) + "."});
        } else if (after.gateway) {
            events.push_back({"lan.gateway.changed", "notice",
                              "A default gateway appeared: " + describe(*after.gateway) + "."});
        } else {
            events.push_back({"lan.gateway.changed", "warning",
                              "The default gateway " + describe(*before.gateway) + " went away."});
        }
    }

    walkUnion(before.neighbors, after.neighbors,
              [&](const std::string& ip, const Neighbor* was, const Neighbor* is) {
                  if (!was) {
                      events.push_back({"lan.neighbor.joined", "notice",
                                        "A new device joined: " + describe(ip, *is) + "."});
                  } else if (!is) {
                      events.push_back({"lan.neighbor.left", "info",
                                        "A device left: " + describe(ip, *was) + "."});
                  } else if (was->hardwareAddress != is->hardwareAddress) {
                      // One address answering from new hardware is either a replaced device
                      // or someone impersonating it.
                      events.push_back({"lan.neighbor.changed", "warning",
                                        "The device at " + ip + " on " + is->interfaceName +
                                            " now answers from " + is->hardwareAddress +
                                            " instead of " + was->hardwareAddress + "."});
                  }
              });
    return events;
}

std::string describeLanView(const LanView& view) {
    std::string upNames;
    std::size_t upCount = 0;
    std::size_t addressCount = 0;
    for (const auto& [name, state] : view.interfaces) {
        addressCount += state.addresses.size();
        if (state.up) {
            upNames += (upCount++ ? ", " : "") + name;
        }
    }
    std::string text = upCount == 0
                           ? "No interface up"
                           : plural(upCount, "interface", "interfaces") + " up (" + upNames + ")";
    text += " with " + plural(addressCount, "address", "addresses");
    text += view.gateway ? ", default gateway " + describe(*view.gateway) : ", no default gateway";
    text += ", " + plural(view.neighbors.size(), "neighbour", "neighbours") + " seen.";
    return text;
}

std::optional<Gateway> parseDefaultRoute(std::string_view procNetRoute) {
    constexpr std::uint32_t kRouteUp = 0x1;
    std::optional<Gateway> best;
    std::uint32_t bestMetric = 0;
    for (const auto& row : tableRows(procNetRoute)) {
        if (row.size() < 8 || row[1] != "00000000" || row[7] != "00000000")
            continue;
        auto gateway = parseHex(row[2]);
        auto flags = parseHex(row[3]);
        std::uint32_t metric = 0;
        if (std::from_chars(row[6].data(), row[6].data() + row[6].size(), metric).ec !=
                std::errc{} ||
            !gateway || !flags || !(*flags & kRouteUp)) {
            continue;
        }
        if (best && metric >= bestMetric)
            continue;
        // The kernel prints the address as the raw network-order word read as a host integer.
        in_addr address{};
        address.s_addr = *gateway;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &address, text, sizeof text);
        best = Gateway{text, row[0]};
        bestMetric = metric;
    }
    return best;
}

std::map<std::string, Neighbor> parseArpTable(std::string_view procNetArp) {
    constexpr std::uint32_t kComplete = 0x2;
    std::map<std::string, Neighbor> neighbors;
    for (const auto& row : tableRows(procNetArp)) {
        if (row.size() < 6)
            continue;
        auto flags = parseHex(row[2]);
        if (!flags || !(*flags & kComplete) || row[3] == "00:00:00:00:00:00")
            continue;
        neighbors[row[0]] = Neighbor{row[3], row[5]};
    }
    return neighbors;
}

}  // namespace tarvelind
