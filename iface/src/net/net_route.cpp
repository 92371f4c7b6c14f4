// Asking the routing table over netlink, and the record of the way an open output took.
#include "net/net_route.h"

#include "output_config.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace das {

namespace {

// The record's folder: the session's runtime folder (a tmpfs of the user's own, gone at logout).
std::string recordFolder(unsigned uid)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (uid == ::getuid() && runtime && *runtime)
        return std::string(runtime) + "/brivane";
    return "/run/user/" + std::to_string(uid) + "/brivane";
}

std::string recordFile(unsigned uid) { return recordFolder(uid) + "/way-out"; }

} // namespace

unsigned askingUser()
{
    std::string why;
    for (const char *name : { "SUDO_UID", "PKEXEC_UID" }) {
        int64_t uid = 0;
        if (const char *value = std::getenv(name);
            value && parseNumber(name, value, 0, UINT32_MAX, uid, why))
            return static_cast<unsigned>(uid);
    }
    return ::getuid();
}

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

void recordWayOut(uint32_t destination, uint16_t port, const WayOut &way, const std::string &name)
{
    const std::string folder = recordFolder(::getuid());
    ::mkdir(folder.c_str(), 0700);
    // Written whole to a file of its own and renamed, so that a check never reads half of it.
    const std::string file = recordFile(::getuid()), fresh = file + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[128];
    const int size = std::snprintf(line, sizeof line, "%u %u %u %u %ld %.32s\n", destination, port,
        way.index, way.source, static_cast<long>(::getpid()), name.c_str());
    const bool written = size > 0 && ::write(fd, line, static_cast<size_t>(size)) == size;
    ::close(fd);
    if (!written || ::rename(fresh.c_str(), file.c_str()) != 0)
        ::unlink(fresh.c_str());
}

void forgetWayOut()
{
    // Only this process's own record: another console's stays.
    const std::string file = recordFile(::getuid());
    if (FILE *in = std::fopen(file.c_str(), "re")) {
        long pid = 0;
        const bool read = std::fscanf(in, "%*u %*u %*u %*u %ld", &pid) == 1;
        std::fclose(in);
        if (read && pid == ::getpid())
            ::unlink(file.c_str());
    }
}

bool recordedWayOut(uint32_t destination, uint16_t port, RecordedWay &recorded)
{
    FILE *in = std::fopen(recordFile(askingUser()).c_str(), "re");
    if (!in)
        return false;
    unsigned to = 0, toPort = 0;
    long pid = 0;
    char name[33] = {};
    const bool read = std::fscanf(in, "%u %u %u %u %ld %32s", &to, &toPort, &recorded.way.index,
                          &recorded.way.source, &pid, name)
        == 6;
    std::fclose(in);
    recorded.name = name;
    recorded.pid = static_cast<pid_t>(pid);
    // A console that has ended left its record behind; a pid taken since by another program is
    // too unlikely to guard against.
    return read && to == destination && toPort == port && pid > 0
        && (::kill(recorded.pid, 0) == 0 || errno == EPERM);
}

} // namespace das
