#include "LanReader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>

#include "FileWriting.h"

namespace tarvelind {
namespace {

/// The whole of a kernel table, which must start with its heading.
std::optional<std::string> readTable(const char* path, std::string_view heading,
                                     std::string& failure) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = std::string("cannot open ") + path + ": " + errnoText();
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0)
        failure = std::string("cannot read ") + path + ": " + errnoText();
    else if (!text.starts_with(heading))
        failure = std::string(path) + " does not have the layout of a kernel table";
    close(fd);
    return failure.empty() ? std::optional(std::move(text)) : std::nullopt;
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

LanReading readLanView() {
    LanView view;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {std::nullopt, "cannot list the interfaces: " + errnoText()};
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
    std::string failure;
    auto routes = readTable("/proc/net/route", "Iface", failure);
    auto neighbors = routes ? readTable("/proc/net/arp", "IP address", failure) : std::nullopt;
    if (!neighbors)
        return {std::nullopt, failure};
    view.gateway = parseDefaultRoute(*routes);
    view.neighbors = parseArpTable(*neighbors);
    return {std::move(view), {}};
}

}  // namespace tarvelind
