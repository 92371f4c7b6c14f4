// The loopback UDP receiver.
#include "net_support.h"

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace nettest {

UdpReceiver::UdpReceiver(uint16_t port, uint32_t address)
    : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in sa { AF_INET, htons(port), { htonl(address) }, {} };
    socklen_t size = sizeof sa;
    auto *raw = reinterpret_cast<sockaddr *>(&sa);
    if (bind(m_fd, raw, size) != 0 || getsockname(m_fd, raw, &size) != 0)
        close(std::exchange(m_fd, -1));
    m_port = ntohs(sa.sin_port);
}

UdpReceiver::~UdpReceiver() { close(m_fd); }

bool UdpReceiver::joinGroup(uint32_t group)
{
    const ip_mreq request { { htonl(group) }, { htonl(INADDR_LOOPBACK) } };
    return setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

std::optional<Packet> UdpReceiver::receive(int timeoutMs)
{
    pollfd pfd { m_fd, POLLIN, 0 };
    Packet packet(2048);
    const ssize_t n
        = poll(&pfd, 1, timeoutMs) > 0 ? recv(m_fd, packet.data(), packet.size(), 0) : -1;
    if (n < 0)
        return std::nullopt;
    packet.resize(static_cast<std::size_t>(n));
    return packet;
}

bool UdpReceiver::drain(int quietMs, int boundMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (receive(quietMs))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

} // namespace nettest
