// The UDP socket under the network outputs: opened once, never blocking, and deciding which
// send errors close the output.
#include "net/udp_sender.h"

#include "dashard.h"
#include "diagnostic.h"
#include "net/way_out_record.h"

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace das {

namespace {

std::string describe(const char *step, int error)
{
    return std::string(step) + ": " + std::strerror(error);
}

bool setIntOption(int fd, int level, int name, int value, const char *step, std::string &why)
{
    if (setsockopt(fd, level, name, &value, sizeof value) == 0)
        return true;
    why = describe(step, errno);
    return false;
}

} // namespace

UdpSender::~UdpSender()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int SendFailures::record(int error)
{
    if (error == 0) {
        m_inRow = 0;
        return DAS_OK;
    }
    if (!isTransientSendError(error))
        return DAS_E_IO;
    return ++m_inRow >= kTicks ? DAS_E_IO : DAS_OK;
}

bool UdpSender::open(uint32_t host, uint16_t port, Mode mode, const NetPath &path, std::string what,
    std::string &why)
{
    m_what = std::move(what);
    // Non-blocking: a full socket buffer drops this frame instead of holding the caller.
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        why = describe("cannot create a UDP socket", errno);
        return false;
    }
    switch (mode) {
    case Mode::Unicast:
        break;
    case Mode::Broadcast:
        // The user names a broadcast address on purpose; without this the kernel refuses it.
        if (!setIntOption(m_fd, SOL_SOCKET, SO_BROADCAST, 1, "cannot allow broadcast", why))
            return false;
        break;
    case Mode::Multicast:
        // TTL 1 keeps the levels on the local link. Loop lets a receiver on this same machine (a
        // visualiser, a local bridge) hear the stream.
        if (!setIntOption(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, 1, "cannot set multicast TTL", why)
            || !setIntOption(
                m_fd, IPPROTO_IP, IP_MULTICAST_LOOP, 1, "cannot set multicast loop", why))
            return false;
        break;
    }
    if (!applyNetPath(m_fd, path, why))
        return false;
    m_via = path.via;
    m_way = { path.via.index, path.source };
    if (!path.pinned() && m_via.index != 0) {
        m_routes = std::make_unique<RouteAsker>();
        if (!m_routes->canAsk())
            m_routes.reset();
    }
    if (m_via.index == 0)
        m_nextLook = Clock::time_point::max(); // no interface known: none to watch
    m_destination.sin_family = AF_INET;
    m_destination.sin_port = htons(port);
    m_destination.sin_addr.s_addr = htonl(host);
    return true;
}

int UdpSender::send(std::span<const uint8_t> datagram)
{
    // The only cost per frame of the link watch: a clock read and a comparison.
    if (const auto now = Clock::now(); now >= m_nextLook && watchWay(now) < 0)
        return DAS_E_IO;
    int error = EINTR; // interrupted every time: this frame is lost, the next tick sends again
    for (int attempt = 0; attempt < 3 && error == EINTR; ++attempt)
        error = ::sendto(m_fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr *>(&m_destination), sizeof m_destination)
                >= 0
            ? 0
            : errno;
    const int result = m_failures.record(error);
    if (result < 0) {
        // A device taken away says more than the error its absence gave the sends.
        const std::string trouble = m_via.index ? deviceTrouble(m_via, m_fd) : "";
        stopped(trouble.empty()
                ? "goes nowhere (" + std::string(std::strerror(error)) + "): the output stops"
                : "stops: " + trouble);
    }
    return result;
}

int UdpSender::watchWay(Clock::time_point now)
{
    // Kept from the first frame on, not at open, which brivane-check's check makes too.
    if (m_nextLook == Clock::time_point {})
        recordWayOut(
            ntohl(m_destination.sin_addr.s_addr), ntohs(m_destination.sin_port), m_way, m_via.name);
    m_nextLook = now + std::chrono::seconds(1);
    // Chosen by the routing table, the way moves by itself when the device goes: the kernel then
    // sends by another (Wi-Fi's default route), where no node is, and says nothing.
    if (m_routes) {
        WayOut way;
        if (const int error = m_routes->ask(ntohl(m_destination.sin_addr.s_addr), way);
            (error == 0 && way != m_way) || isRoutingAnswer(error)) {
            stopped("stops: " + movedText(error, way));
            return DAS_E_IO;
        }
    }
    if (m_via.loopback)
        return DAS_OK; // to this machine: no cable to watch
    // One ioctl on the socket already open: the device's flags, IFF_RUNNING among them.
    const std::string trouble = deviceTrouble(m_via, m_fd);
    // Two looks a second apart, so that a link that drops for a moment and comes back is no
    // fault. A device gone or down fails the sends too, which may tell first.
    const bool missing = !trouble.empty();
    if (missing && m_linkMissing) {
        stopped("stops: " + trouble);
        return DAS_E_IO;
    }
    m_linkMissing = missing;
    return DAS_OK;
}

std::string UdpSender::movedText(int error, const WayOut &now) const
{
    char name[IF_NAMESIZE] = {};
    if (error != 0)
        return "there is no way out to it any more (it was " + m_via.name
            + ": adapter out or taken down?)";
    if (now.index == m_way.index)
        return "its address on " + m_via.name + " changed from " + ipv4Text(m_way.source) + " to "
            + ipv4Text(now.source);
    return "its way out moved from " + m_via.name + " to "
        + (::if_indextoname(now.index, name) ? name : "another device")
        + " (adapter out or taken down?)";
}

void UdpSender::closing() const
{
    if (m_via.index != 0)
        forgetWayOut();
}

void UdpSender::stopped(const std::string &what)
{
    printDiagnostic(m_what + " to " + ipv4Text(ntohl(m_destination.sin_addr.s_addr)) + ":"
        + std::to_string(ntohs(m_destination.sin_port)) + " " + what);
}

void UdpSender::sendAside(std::span<const uint8_t> datagram, uint32_t host, uint16_t port) const
{
    const sockaddr_in to { AF_INET, htons(port), { htonl(host) }, {} };
    ::sendto(m_fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
        reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

bool isTransientSendError(int error)
{
    switch (error) {
    // UDP promises no delivery, so a datagram the kernel or the network could not take now is
    // the same as one lost on the wire: the console sends the full frame again on its next tick.
    // Socket buffer or device queue full:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ENOBUFS:
    case ENOMEM:
    case EINTR:
    // Cable out, Wi-Fi reconnecting, route not there yet, address being renewed, a firewall
    // rule: all of these can come back without reopening the output.
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EADDRNOTAVAIL:
    case EPERM:
        return true;
    // Anything else (EBADF, ENOTSOCK, EACCES, EMSGSIZE, EINVAL, ...) means the socket or the
    // destination itself is wrong, and sending again would fail the same way.
    default:
        return false;
    }
}

} // namespace das
