// Asking the routing table over netlink.
#include "net/routing_table.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace das {

RouteAsker::RouteAsker()
    : m_fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE))
{
    if (m_fd < 0)
        m_error = errno;
}

RouteAsker::~RouteAsker()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int RouteAsker::ask(uint32_t destination, WayOut &way)
{
    if (m_fd < 0)
        return m_error;
    struct
    {
        nlmsghdr header;
        rtmsg route;
        alignas(NLMSG_ALIGNTO) char destination[RTA_SPACE(sizeof(uint32_t))];
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = ++m_sequence;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    auto *attribute = reinterpret_cast<rtattr *>(request.destination);
    attribute->rta_type = RTA_DST;
    attribute->rta_len = RTA_LENGTH(sizeof(uint32_t));
    const uint32_t to = htonl(destination);
    std::memcpy(RTA_DATA(attribute), &to, sizeof to);
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr *>(&kernel),
            sizeof kernel)
        < 0)
        return errno;
    // The kernel answers while handling the request, so the answer is waiting already; one to an
    // older request (none is ever left, but a socket is cheap to misread) is passed over.
    alignas(nlmsghdr) char answer[1024];
    for (;;) {
        const ssize_t got = ::recv(m_fd, answer, sizeof answer, 0);
        if (got < 0)
            return errno == EAGAIN ? ETIMEDOUT : errno;
        auto size = static_cast<unsigned>(got);
        for (auto *message = reinterpret_cast<nlmsghdr *>(answer); NLMSG_OK(message, size);
             message = NLMSG_NEXT(message, size)) {
            if (message->nlmsg_seq != m_sequence)
                continue;
            if (message->nlmsg_type == NLMSG_ERROR) {
                const int error = -static_cast<const nlmsgerr *>(NLMSG_DATA(message))->error;
                return error ? error : ENODATA;
            }
            if (message->nlmsg_type != RTM_NEWROUTE)
                continue;
            way = {};
            auto *route = static_cast<rtmsg *>(NLMSG_DATA(message));
            auto length = static_cast<unsigned>(RTM_PAYLOAD(message));
            for (auto *each = RTM_RTA(route); RTA_OK(each, length); each = RTA_NEXT(each, length)) {
                uint32_t value = 0;
                if (RTA_PAYLOAD(each) >= sizeof value)
                    std::memcpy(&value, RTA_DATA(each), sizeof value);
                if (each->rta_type == RTA_OIF)
                    way.index = value;
                else if (each->rta_type == RTA_PREFSRC)
                    way.source = ntohl(value);
            }
            return way.index ? 0 : ENODATA;
        }
    }
}

bool isRoutingAnswer(int error)
{
    switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EINVAL: // no usable source address for the destination
        return true;
    default:
        return false;
    }
}

} // namespace das
