#include <gtest/gtest.h>

#include "LanView.h"

namespace tarvelind {
namespace {

LanView homeNetwork() {
    LanView view;
    view.interfaces["eth0"] = {true, {"192.168.1.20/24", "fe80::1/64"}};
    view.interfaces["wlan0"] = {false, {}};
    view.gateway = Gateway{"192.168.1.1", "eth0"};
    view.neighbors["192.168.1.1"] = {"aa:aa:aa:aa:aa:01", "eth0"};
    view.neighbors["192.168.1.30"] = {"aa:aa:aa:aa:aa:30", "eth0"};
    return view;
}

struct DiffCase {
    const char* name;
    void (*change)(LanView&);
    std::vector<std::pair<std::string, std::string>> kindsAndSeverities;
    std::string mentioned;  // what the first summary must name
};

void PrintTo(const DiffCase& c, std::ostream* os) {
    *os << c.name;
}

class LanDiff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(LanDiff, ReportsEachChangeOnce) {
    const DiffCase& c = GetParam();
    LanView before = homeNetwork();
    LanView after = before;
    c.change(after);

    auto events = diffLanViews(before, after);
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& event : events) {
        got.emplace_back(event.kind, event.severity);
        EXPECT_TRUE(event.summary.ends_with(".")) << event.summary;
    }
    EXPECT_EQ(got, c.kindsAndSeverities);
    if (!events.empty()) {
        EXPECT_NE(events[0].summary.find(c.mentioned), std::string::npos) << events[0].summary;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LanDiff,
    ::testing::Values(DiffCase{"NothingChanged", [](LanView&) {}, {}, ""},
                      DiffCase{"InterfaceUp",
                               [](LanView& v) { v.interfaces["wlan0"].up = true; },
                               {{"lan.interface.up", "info"}},
                               "wlan0"},
                      DiffCase{"InterfaceDown",
                               [](LanView& v) { v.interfaces["eth0"].up = false; },
                               {{"lan.interface.down", "notice"}},
                               "eth0"},
                      DiffCase{"NewInterfaceComesUpWithAddress",
                               [](LanView& v) {
                                   v.interfaces["usb0"] = {true, {"10.0.0.2/8"}};
                               },
                               {{"lan.interface.up", "info"}, {"lan.address.added", "info"}},
                               "usb0"},
                      DiffCase{"InterfaceVanishes",
                               [](LanView& v) { v.interfaces.erase("eth0"); },
                               {{"lan.interface.down", "notice"},
                                {"lan.address.removed", "notice"},
                                {"lan.address.removed", "notice"}},
                               "eth0"},
                      DiffCase{"AddressChanged",
                               [](LanView& v) {
                                   v.interfaces["eth0"].addresses.erase("192.168.1.20/24");
                                   v.interfaces["eth0"].addresses.insert("192.168.1.21/24");
                               },
                               {{"lan.address.removed", "notice"}, {"lan.address.added", "info"}},
                               "192.168.1.20/24"},
                      DiffCase{"GatewayChanged",
                               [](LanView& v) {
                                   v.gateway = Gateway{"192.168.1.254", "eth0"};
                               },
                               {{"lan.gateway.changed", "warning"}},
                               "192.168.1.254"},
                      DiffCase{"GatewayLost",
                               [](LanView& v) { v.gateway.reset(); },
                               {{"lan.gateway.changed", "warning"}},
                               "192.168.1.1"},
                      DiffCase{"NeighborJoined",
                               [](LanView& v) {
                                   v.neighbors["192.168.1.40"] = {"bb:bb:bb:bb:bb:40", "eth0"};
                               },
                               {{"lan.neighbor.joined", "notice"}},
                               "bb:bb:bb:bb:bb:40"},
                      DiffCase{"NeighborLeft",
                               [](LanView& v) { v.neighbors.erase("192.168.1.30"); },
                               {{"lan.neighbor.left", "info"}},
                               "192.168.1.30"},
                      DiffCase{"NeighborAnswersFromNewHardware",
                               [](LanView& v) {
                                   v.neighbors["192.168.1.1"].hardwareAddress = "cc:cc:cc:cc:cc:cc";
                               },
                               {{"lan.neighbor.changed", "warning"}},
                               "cc:cc:cc:cc:cc:cc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KernelTables, DefaultRouteWithLowestMetricWins) {
    const char* route =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth1\t00000000\t0200000A\t0002\t0\t0\t1\t00000000\t0\t0\t0\n"  // not up
        "eth0\t0000000A\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n";
    EXPECT_EQ(parseDefaultRoute(route), (Gateway{"10.0.0.1", "eth0"}));
    EXPECT_EQ(parseDefaultRoute("Iface\tDestination\n"), std::nullopt);
    EXPECT_EQ(parseDefaultRoute(""), std::nullopt);
}

TEST(KernelTables, OnlyCompleteNeighborsAreKept) {
    const char* arp =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "192.168.1.1      0x1         0x2         aa:aa:aa:aa:aa:01     *        eth0\n"
        "192.168.1.9      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
        "192.168.1.7      0x1         0x6         bb:bb:bb:bb:bb:07     *        wlan0\n"
        "garbage\n";
    auto neighbors = parseArpTable(arp);
    EXPECT_EQ(neighbors,
              (std::map<std::string, Neighbor>{{"192.168.1.1", {"aa:aa:aa:aa:aa:01", "eth0"}},
                                               {"192.168.1.7", {"bb:bb:bb:bb:bb:07", "wlan0"}}}));
}

}  // namespace
}  // namespace tarvelind
