// A UDP receiver on loopback for the network output tests and the end-to-end tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace nettest {

using Packet = std::vector<uint8_t>;

// A UDP socket bound to `address`:`port` (host order; port 0 picks a free one).
class UdpReceiver
{
public:
    explicit UdpReceiver(uint16_t port = 0, uint32_t address = 0x7f000001);
    UdpReceiver(const UdpReceiver &) = delete;
    UdpReceiver &operator=(const UdpReceiver &) = delete;
    ~UdpReceiver();

    bool ok() const { return m_fd >= 0; }
    uint16_t port() const { return m_port; }
    // Joins an IPv4 multicast group on the loopback interface.
    bool joinGroup(uint32_t group);
    // The next datagram, or nothing after `timeoutMs`.
    std::optional<Packet> receive(int timeoutMs = 3000);
    // Drops the datagrams already queued and, with `quietMs`, those that follow until none comes
    // for that long. False when the sender is not quiet within `boundMs`.
    bool drain(int quietMs = 0, int boundMs = 5000);

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

} // namespace nettest
