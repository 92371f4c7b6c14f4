// A non-blocking UDP socket aimed at one IPv4 destination, shared by the Art-Net and sACN outputs.
#pragma once

#include "net/net_route.h"
#include "net/routing_table.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <span>
#include <string>

namespace das {

// Counts the sends in a row that left nothing on the wire. UDP may lose a datagram now and then,
// and that is no failure; a stream that has gone nowhere for a second (ten ticks) is one.
class SendFailures
{
public:
    static constexpr int kTicks = 10;
    // The result for a send that ended in `error` (0: it left): DAS_OK, or DAS_E_IO when the
    // socket cannot send at all or this was the tenth failure in a row.
    int record(int error);

private:
    int m_inRow = 0;
};

class UdpSender
{
public:
    enum class Mode { Unicast, Broadcast, Multicast };

    UdpSender() = default;
    UdpSender(const UdpSender &) = delete;
    UdpSender &operator=(const UdpSender &) = delete;
    ~UdpSender();

    // Creates the socket for sending to `host` (host-order IPv4 address) and `port` by `path`.
    // `what` names the stream in messages ("sACN"). On failure returns false and says why in one
    // short phrase.
    bool open(uint32_t host, uint16_t port, Mode mode, const NetPath &path, std::string what,
        std::string &why);

    // Sends one datagram without ever waiting. 0 when it left, or when it was lost in a way
    // that clears up by itself; DAS_E_IO, with one stderr line, when the socket can no longer
    // send at all, nothing has left for a second, or the interface has had no link for one.
    int send(std::span<const uint8_t> datagram);

    // Sends one datagram to another `host`:`port` by the same socket, once, without waiting or
    // counting it: the stream's own sends tell whether the way out works.
    void sendAside(std::span<const uint8_t> datagram, uint32_t host, uint16_t port) const;

    // Says the output was closed on purpose: the record of its way out goes.
    void closing() const;

private:
    using Clock = std::chrono::steady_clock;
    // The look at the way out, due once a second, since frames to a device gone, down or without
    // carrier, or rerouted by another, leave without an error: DAS_E_IO when the route chosen by
    // the table has changed, the device is gone or down, or has had no link at this look and the
    // one before.
    int watchWay(Clock::time_point now);
    // "its way out moved from eth1 to wlan0 (...)": what the routing table says now.
    std::string movedText(int error, const WayOut &now) const;
    void stopped(const std::string &what); // one stderr line: the destination, then `what`

    int m_fd = -1;
    sockaddr_in m_destination {};
    std::string m_what;
    SendFailures m_failures;
    NetInterface m_via; // watched by its index, when known and not loopback
    WayOut m_way; // at open, where the routing table chose it (its RouteAsker then set)
    std::unique_ptr<RouteAsker> m_routes;
    Clock::time_point m_nextLook {};
    bool m_linkMissing = false; // at the last look
};

// Whether a sendto() error leaves the socket usable (the frame is simply lost, like any UDP
// datagram may be) rather than meaning the output is gone.
bool isTransientSendError(int error);

} // namespace das
