// The way out as the kernel would take it now: the device and source address for a destination,
// asked of the routing table, and the way a running console's output opened by, kept for
// brivane-check to compare with.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

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

// The way this process's network output opened by, to `destination`:`port`, for brivane-check
// run beside the console: written at its first frame, removed at each close (kept when the
// output stops by itself, so that a check made then still sees it).
void recordWayOut(uint32_t destination, uint16_t port, const WayOut &way, const std::string &name);
void forgetWayOut();

// The user a check or scan is made for, whose console it looks beside: the one who ran sudo or
// pkexec (SUDO_UID, PKEXEC_UID), else this one.
unsigned askingUser();

// The way a running console's output to `destination`:`port` opened by, when there is one.
struct RecordedWay
{
    WayOut way;
    std::string name; // the device's name at the open
    pid_t pid = 0;
};
bool recordedWayOut(uint32_t destination, uint16_t port, RecordedWay &recorded);

} // namespace das
