// A non-blocking UDP socket aimed at one IPv4 destination, shared by the Art-Net and sACN outputs.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <span>
#include <string>

namespace das {

class UdpSender
{
public:
    enum class Mode { Unicast, Broadcast, Multicast };

    UdpSender() = default;
    UdpSender(const UdpSender &) = delete;
    UdpSender &operator=(const UdpSender &) = delete;
    ~UdpSender();

    // Creates the socket for sending to `host` (host-order IPv4 address) and `port`. On failure
    // returns false and says why in one short phrase.
    bool open(uint32_t host, uint16_t port, Mode mode, std::string &why);

    // Sends one datagram without ever waiting. 0 when it left, or when it was dropped for a
    // reason that clears up by itself; DAS_E_IO when the socket can no longer send at all.
    int send(std::span<const uint8_t> datagram);

private:
    int m_fd = -1;
    sockaddr_in m_destination {};
};

// Whether a sendto() error leaves the socket usable (the frame is simply lost, like any UDP
// datagram may be) rather than meaning the output is gone.
bool isTransientSendError(int error);

} // namespace das
