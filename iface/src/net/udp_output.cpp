// The UDP socket under the network outputs: opened once, never blocking, and deciding which
// send errors close the output.
#include "net/udp_output.h"

#include "dashard.h"
#include "diagnostic.h"

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
    if (m_via.name.empty())
        m_nextLook = Clock::time_point::max(); // no interface known: none to watch
    m_destination.sin_family = AF_INET;
    m_destination.sin_port = htons(port);
    m_destination.sin_addr.s_addr = htonl(host);
    return true;
}

int UdpSender::send(std::span<const uint8_t> datagram)
{
    // The only cost per frame of the link watch: a clock read and a comparison.
    if (const auto now = Clock::now(); now >= m_nextLook && watchLink(now) < 0)
        return DAS_E_IO;
    int error = EINTR; // interrupted every time: this frame is lost, the next tick sends again
    for (int attempt = 0; attempt < 3 && error == EINTR; ++attempt)
        error = ::sendto(m_fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr *>(&m_destination), sizeof m_destination)
                >= 0
            ? 0
            : errno;
    const int result = m_failures.record(error);
    if (result < 0)
        stopped("goes nowhere (" + std::string(std::strerror(error)) + "): the output stops");
    return result;
}

int UdpSender::watchLink(Clock::time_point now)
{
    m_nextLook = now + std::chrono::seconds(1);
    // One ioctl on the socket already open: the device's flags, IFF_RUNNING among them.
    ifreq request {};
    m_via.name.copy(request.ifr_name, IFNAMSIZ - 1);
    if (::ioctl(m_fd, SIOCGIFFLAGS, &request) != 0)
        return DAS_OK; // gone or renamed: the sends tell
    m_via.up = request.ifr_flags & IFF_UP;
    m_via.running = request.ifr_flags & IFF_RUNNING;
    // Two looks a second apart, so that a link that drops for a moment and comes back is no fault.
    const bool missing = lacksLink(m_via);
    if (missing && m_linkMissing) {
        stopped("stops: " + noLinkText(m_via));
        return DAS_E_IO;
    }
    m_linkMissing = missing;
    return DAS_OK;
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
