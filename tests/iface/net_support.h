#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace nettest {

using Packet = std::vector<uint8_t>;

// A UDP socket on `address`:`port` (host order; port 0: any free one), for output and e2e tests.
class UdpReceiver
{
public:
    explicit UdpReceiver(uint16_t port = 0, uint32_t address = 0x7f000001)
    {
        sockaddr_in sa { AF_INET, htons(port), { htonl(address) }, {} };
        socklen_t size = sizeof sa;
        if (bind(m_fd, (sockaddr *)&sa, size) || getsockname(m_fd, (sockaddr *)&sa, &size))
            close(m_fd), m_fd = -1;
        m_port = ntohs(sa.sin_port);
    }
    UdpReceiver(UdpReceiver &&) = delete; // and so no copies
    ~UdpReceiver() { close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    uint16_t port() const { return m_port; }
    bool joinGroup(uint32_t group) // on the loopback interface
    {
        const ip_mreq request { { htonl(group) }, { htonl(INADDR_LOOPBACK) } };
        return !setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
    }
    std::optional<Packet> receive(int timeoutMs = 3000) // nothing after `timeoutMs`
    {
        pollfd pfd { m_fd, POLLIN, 0 };
        Packet packet(2048);
        const ssize_t n = poll(&pfd, 1, timeoutMs) > 0 ? recv(m_fd, packet.data(), 2048, 0) : -1;
        return n < 0 ? std::nullopt : (packet.resize(size_t(n)), std::optional(packet));
    }
    // Drops what is queued and, with `quietMs`, what follows until none comes for that long; false
    // when the sender is not quiet within `boundMs`.
    bool drain(int quietMs = 0, int boundMs = 5000)
    {
        using clock = std::chrono::steady_clock;
        for (const auto end = clock::now() + std::chrono::milliseconds(boundMs); receive(quietMs);)
            if (clock::now() > end)
                return false;
        return true;
    }

private:
    int m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), m_port = 0;
};

} // namespace nettest
