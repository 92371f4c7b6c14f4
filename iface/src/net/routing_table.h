// The routing table, asked as `ip route get` asks it: the device and source address a datagram to
// a destination leaves by now.
#pragma once

#include <cstdint>

namespace das {

// The device (by index, which a rename keeps) and the local address a datagram leaves by.
struct WayOut
{
    unsigned index = 0;
    uint32_t source = 0; // host order
    bool operator==(const WayOut &) const = default;
};

// Asks the kernel's routing table, as `ip route get` does, over a netlink socket kept open for the
// asker's life: one request and its answer, no wait. Sends nothing on any network.
class RouteAsker
{
public:
    RouteAsker();
    RouteAsker(const RouteAsker &) = delete;
    RouteAsker &operator=(const RouteAsker &) = delete;
    ~RouteAsker();

    // 0 with `way` filled in, or the errno the kernel answered (ENETUNREACH: no route), or that of
    // the socket when the routing table cannot be asked at all (see `canAsk`).
    int ask(uint32_t destination, WayOut &way);
    bool canAsk() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    int m_error = 0; // why there is no socket
    uint32_t m_sequence = 0;
};

// Whether `error` from RouteAsker::ask is the routing table's answer, rather than the table
// being out of reach.
bool isRoutingAnswer(int error);

} // namespace das
