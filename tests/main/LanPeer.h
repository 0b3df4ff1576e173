#pragma once

// A second machine on a LAN that exists only inside this process, joined to its private network by
// a virtual Ethernet pair. Hardware addresses are fixed and there is no IPv6 link-local address,
// so the network looks the same from the moment it is made.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

class LanPeer {
  public:
    static constexpr const char* kThisSide = "10.203.0.1";

    LanPeer() {
        std::thread([this] {
            if (unshare(CLONE_NEWNET) == 0)
                peer_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        }).join();
        const std::string setUp =
            "ns=/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(peer_) +
            "; ip link add lanhost address 02:00:00:00:00:01 type veth peer name lanpeer address "
            "02:00:00:00:00:02 netns $ns && ip link set lanhost addrgenmode none && "
            "ip address add 10.203.0.1/24 dev lanhost && ip link set lanhost up && "
            "ip neigh replace 10.203.0.2 lladdr 02:00:00:00:00:02 dev lanhost nud permanent && "
            "nsenter --net=$ns sh -ec 'ip link set lanpeer addrgenmode none; "
            "ip address add 10.203.0.2/24 dev lanpeer; ip link set lanpeer up; "
            "ip neigh replace 10.203.0.1 lladdr 02:00:00:00:00:01 dev lanpeer nud permanent'";
        if (peer_ < 0 || std::system(setUp.c_str()) != 0)
            throw std::runtime_error("cannot set up the LAN peer");
    }
    ~LanPeer() {
        std::system("ip link delete lanhost");
        close(peer_);
    }

    /// Runs `work` on this thread as the peer: the sockets it makes belong to the peer's network.
    template <typename Work>
    auto asPeer(Work work) {
        struct Home {
            int ns = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            ~Home() {
                setns(ns, CLONE_NEWNET);
                close(ns);
            }
        } home;
        setns(peer_, CLONE_NEWNET);
        return work();
    }

    /// A connection from the peer to `port` on this side, or -1.
    int connectTo(int port) {
        return asPeer([port] {
            sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port)};
            inet_pton(AF_INET, kThisSide, &address.sin_addr);
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                return fd;
            close(fd);
            return -1;
        });
    }

  private:
    int peer_ = -1;
};
