// A UDP receiver on loopback for the network output tests and the end-to-end tests.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace nettest {

using Packet = std::vector<uint8_t>;

// A UDP socket bound to `address`:`port` (host order; port 0 picks a free one).
class UdpReceiver
{
public:
    explicit UdpReceiver(uint16_t port = 0, uint32_t address = 0x7f000001)
    {
        sockaddr_in sa { AF_INET, htons(port), { htonl(address) }, {} };
        socklen_t size = sizeof sa;
        if (bind(m_fd, (sockaddr *)&sa, size) != 0
            || getsockname(m_fd, (sockaddr *)&sa, &size) != 0)
            close(std::exchange(m_fd, -1));
        m_port = ntohs(sa.sin_port);
    }
    UdpReceiver(const UdpReceiver &) = delete;
    UdpReceiver &operator=(const UdpReceiver &) = delete;
    ~UdpReceiver() { close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    uint16_t port() const { return m_port; }
    // Joins an IPv4 multicast group on the loopback interface.
    bool joinGroup(uint32_t group)
    {
        const ip_mreq request { { htonl(group) }, { htonl(INADDR_LOOPBACK) } };
        return setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
    }
    // The next datagram, or nothing after `timeoutMs`.
    std::optional<Packet> receive(int timeoutMs = 3000)
    {
        pollfd pfd { m_fd, POLLIN, 0 };
        Packet packet(2048);
        const ssize_t n = poll(&pfd, 1, timeoutMs) > 0 ? recv(m_fd, packet.data(), 2048, 0) : -1;
        if (n < 0)
            return std::nullopt;
        packet.resize(size_t(n));
        return packet;
    }
    // Drops the datagrams queued and, with `quietMs`, those that follow until none comes for that
    // long. False when the sender is not quiet within `boundMs`.
    bool drain(int quietMs = 0, int boundMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (receive(quietMs))
            if (std::chrono::steady_clock::now() > end)
                return false;
        return true;
    }

private:
    int m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    uint16_t m_port = 0;
};

} // namespace nettest
