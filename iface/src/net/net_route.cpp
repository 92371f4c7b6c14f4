// Choosing the way out: asking the routing table, falling back on a probe socket or the only
// interface there is; pinning a socket to the choice; and resolving a setting's target.
#include "net/net_route.h"

#include "net/routing_table.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace das {

namespace {

constexpr uint32_t kLimitedBroadcast = 0xffffffff;

// A probe socket that never sends: connect() asks the routing table, getsockname() gives the
// local address it would use. 0 or the errno of the failing step.
int probeRoute(const NetPath &path, uint32_t destination, uint16_t port, uint32_t &source)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    std::string unused;
    sockaddr_in to { AF_INET, htons(port), { htonl(destination) }, {} };
    sockaddr_in from {};
    socklen_t size = sizeof from;
    int error = 0;
    if (!applyNetPath(fd, path, unused)
        || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&from), &size) != 0)
        error = errno;
    ::close(fd);
    source = ntohl(from.sin_addr.s_addr);
    return error;
}

} // namespace

bool chooseNetPath(
    const std::string &wanted, uint32_t destination, uint16_t port, NetPath &path, std::string &why)
{
    path = {};
    const auto interfaces = netInterfaces();
    // The device and the network the source address is on, for the link watch and the scan.
    const auto settle = [&] {
        for (const NetInterface &one : interfaces)
            if (const NetAddress *network = one.find(path.source);
                network && (path.pinned() ? one.index == path.via.index : one.up)) {
                path.via = one;
                path.broadcast = network->broadcast;
            }
        return true;
    };
    if (!wanted.empty()) {
        if (!findInterface(wanted, path.via, path.source, why))
            return false;
        path.choice = NetPath::Choice::Named;
        if (const int error = probeRoute(path, destination, port, path.source); error != 0) {
            why = "no route to " + ipv4Text(destination) + " by " + path.via.name + " ("
                + std::strerror(error) + "); there are: " + interfaceList(interfaces);
            return false;
        }
        return settle();
    }
    // By the routing table: the device and address the kernel names for the destination, which
    // for one on this machine is lo, whatever device holds its address.
    WayOut way;
    int error = RouteAsker().ask(destination, way);
    if (error == 0) {
        for (const NetInterface &one : interfaces)
            if (one.index == way.index)
                path.via = one;
        path.source = way.source;
        if (const NetAddress *network = path.via.find(path.source))
            path.broadcast = network->broadcast;
        return true;
    }
    // Where netlink is out of reach, a probe socket still tells the address, and so the device.
    if (!isRoutingAnswer(error) && (error = probeRoute(path, destination, port, path.source)) == 0)
        return settle();
    // Linux sends multicast and limited broadcast by the routing table too; a lighting network
    // with static addresses and no gateway has no route for them. With one interface linked to
    // a network there is only one place they can be meant for.
    if (isMulticast(destination) || destination == kLimitedBroadcast) {
        int candidates = 0;
        for (const NetInterface &one : interfaces)
            if (one.running && !one.loopback && !one.addresses.empty())
                ++candidates, path.via = one;
        path.choice = NetPath::Choice::OnlyInterface;
        if (candidates == 1 && probeRoute(path, destination, port, path.source) == 0)
            return settle();
        path = {};
    }
    why = "no route to " + ipv4Text(destination) + " (" + std::strerror(error)
        + "): name the interface to use with \",if=NAME\"; there are: " + interfaceList(interfaces);
    return false;
}

std::string describePath(const NetPath &path)
{
    std::string text = path.via.name.empty() ? "" : "by " + path.via.name + " ";
    text += "from " + ipv4Text(path.source);
    switch (path.choice) {
    case NetPath::Choice::RoutingTable:
        return text + " (as the routing table says)";
    case NetPath::Choice::Named:
        return text + " (the interface the setting names)";
    case NetPath::Choice::OnlyInterface:
        return text + " (no route, and the only interface up with a link)";
    }
    return text;
}

bool applyNetPath(int fd, const NetPath &path, std::string &why)
{
    if (!path.pinned())
        return true;
    const auto failed = [&](const char *step) {
        why = std::string(step) + " " + path.via.name + ": " + std::strerror(errno);
        return false;
    };
    // Bound to the device, no datagram takes another way out, whatever the routing table says;
    // bound to its address, the receivers see where the frames come from, and frames stop when
    // the device loses it. The address is the setting's, else the one the kernel picks on the
    // device for this destination (asked first with none bound).
    if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, path.via.name.c_str(),
            static_cast<socklen_t>(path.via.name.size()))
        != 0)
        return failed("cannot bind to");
    sockaddr_in local { AF_INET, 0, { htonl(path.source) }, {} };
    if (path.source != 0
        && ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return failed("cannot send from the address of");
    const ip_mreqn multicast { {}, { htonl(path.source) }, static_cast<int>(path.via.index) };
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &multicast, sizeof multicast) != 0)
        return failed("cannot send multicast by");
    return true;
}

bool resolveNetTarget(const std::string &host, uint16_t port, const std::string &interface,
    NetTarget &target, std::string &why)
{
    target.port = port;
    if (in_addr address {}; inet_pton(AF_INET, host.c_str(), &address) == 1) {
        target.host = ntohl(address.s_addr);
    } else {
        // By a named interface but to no node: the network behind it, by broadcast; the
        // one of the address named, as a guess between several would light the wrong rig.
        NetInterface via;
        uint32_t named = 0;
        if (!findInterface(interface, via, named, why))
            return false;
        // Several addresses on one network are one network: its broadcast reaches them all.
        const auto networks = std::count_if(via.addresses.begin(), via.addresses.end(),
            [&](const NetAddress &one) { return firstOnItsNetwork(via, one); });
        const NetAddress *network = named ? via.find(named)
            : networks == 1               ? &via.addresses[0]
                                          : nullptr;
        if (!network) {
            why = via.name + " is on several IPv4 networks (" + networkList(via)
                + "): name the one to broadcast on by the address " + via.name + " has there,";
            for (const NetAddress &one : via.addresses)
                if (firstOnItsNetwork(via, one))
                    why += (&one == &via.addresses[0] ? " if=" : " or if=") + ipv4Text(one.address);
            return false;
        }
        if (network->broadcast == 0) {
            why = via.name + "'s network " + networkText(*network)
                + " has no broadcast address: name the node to send to (artnet:HOST@U)";
            return false;
        }
        target.host = network->broadcast;
    }
    if (!chooseNetPath(interface, target.host, target.port, target.path, why))
        return false;
    if (!lacksLink(target.path.via))
        return true;
    why = noLinkText(target.path.via);
    return false;
}

} // namespace das
