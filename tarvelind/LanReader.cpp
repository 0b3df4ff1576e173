#include "LanReader.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <bit>
#include <fstream>
#include <sstream>

namespace tarvelind {
namespace {

std::string readWhole(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int prefixLength(const sockaddr* mask) {
    if (mask == nullptr)
        return 0;
    int bits = 0;
    if (mask->sa_family == AF_INET) {
        bits = std::popcount(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
    } else if (mask->sa_family == AF_INET6) {
        for (unsigned char byte : reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr.s6_addr) {
            bits += std::popcount(byte);
        }
    }
    return bits;
}

std::optional<std::string> addressText(const ifaddrs& entry) {
    const sockaddr* address = entry.ifa_addr;
    char text[INET6_ADDRSTRLEN];
    const void* raw = nullptr;
    if (address->sa_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    } else if (address->sa_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    } else {
        return std::nullopt;
    }
    if (inet_ntop(address->sa_family, raw, text, sizeof text) == nullptr)
        return std::nullopt;
    return std::string(text) + "/" + std::to_string(prefixLength(entry.ifa_netmask));
}

}  // namespace

LanView readLanView() {
    LanView view;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_flags & IFF_LOOPBACK)
                continue;
            InterfaceState& state = view.interfaces[entry->ifa_name];
            // Up alone is what an administrator set; running means a cable or radio link too.
            state.up = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING);
            if (entry->ifa_addr) {
                if (auto text = addressText(*entry))
                    state.addresses.insert(*text);
            }
        }
        freeifaddrs(list);
    }
    view.gateway = parseDefaultRoute(readWhole("/proc/net/route"));
    view.neighbors = parseArpTable(readWhole("/proc/net/arp"));
    return view;
}

}  // namespace tarvelind
