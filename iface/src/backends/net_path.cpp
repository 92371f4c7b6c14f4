// The network outputs' shared part: listing interfaces, the once-at-open choice of the way out,
// and pinning a socket to it.
#include "backends/net_path.h"

#include "encode/artnet.h"
#include "encode/sacn.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace das {

namespace {

constexpr uint32_t kLimitedBroadcast = 0xffffffff;

uint32_t hostOrder(const sockaddr *address)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

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

std::string ipv4Text(uint32_t hostOrder)
{
    in_addr address { htonl(hostOrder) };
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::vector<NetInterface> netInterfaces()
{
    std::vector<NetInterface> interfaces;
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0)
        return interfaces;
    for (const ifaddrs *each = all; each; each = each->ifa_next) {
        NetInterface *known = nullptr;
        for (NetInterface &one : interfaces)
            if (one.name == each->ifa_name)
                known = &one;
        if (!known) {
            known = &interfaces.emplace_back();
            known->name = each->ifa_name;
            known->index = ::if_nametoindex(each->ifa_name);
        }
        known->up = known->up || (each->ifa_flags & IFF_UP);
        known->loopback = known->loopback || (each->ifa_flags & IFF_LOOPBACK);
        if (each->ifa_addr && each->ifa_addr->sa_family == AF_INET && known->address == 0) {
            known->address = hostOrder(each->ifa_addr);
            // From the netmask: an address added without "brd" shows itself as its broadcast.
            if ((each->ifa_flags & IFF_BROADCAST) && each->ifa_netmask)
                known->broadcast = known->address | ~hostOrder(each->ifa_netmask);
        }
    }
    ::freeifaddrs(all);
    return interfaces;
}

std::string interfaceList(const std::vector<NetInterface> &interfaces)
{
    std::string list;
    for (const NetInterface &one : interfaces)
        list += (list.empty() ? "" : ", ") + one.name + " "
            + (one.address ? ipv4Text(one.address) : "no IPv4 address") + (one.up ? "" : " (down)");
    return list.empty() ? "none" : list;
}

bool findInterface(const std::string &wanted, NetInterface &found, std::string &why)
{
    const auto interfaces = netInterfaces();
    in_addr address {};
    const bool byAddress = inet_pton(AF_INET, wanted.c_str(), &address) == 1;
    for (const NetInterface &one : interfaces) {
        if (one.address != 0
            && (byAddress ? one.address == ntohl(address.s_addr) : one.name == wanted)) {
            found = one;
            return true;
        }
    }
    why = "no network interface " + std::string(byAddress ? "holds " : "") + "\"" + wanted + "\""
        + (byAddress ? "" : " with an IPv4 address")
        + " here; there are: " + interfaceList(interfaces);
    return false;
}

bool chooseNetPath(
    const std::string &wanted, uint32_t destination, uint16_t port, NetPath &path, std::string &why)
{
    path = {};
    if (!wanted.empty()) {
        if (!findInterface(wanted, path.via, why))
            return false;
        path.choice = NetPath::Choice::Named;
        path.source = path.via.address;
        if (const int error = probeRoute(path, destination, port, path.source); error != 0) {
            why = "no route to " + ipv4Text(destination) + " by " + path.via.name + " ("
                + std::strerror(error) + "); there are: " + interfaceList(netInterfaces());
            return false;
        }
        return true;
    }
    const int error = probeRoute(path, destination, port, path.source);
    if (error == 0) {
        for (const NetInterface &one : netInterfaces())
            if (one.address == path.source)
                path.via = one;
        return true;
    }
    // Linux sends multicast and limited broadcast by the routing table too; a lighting network
    // with static addresses and no gateway has no route for them. With one interface there is
    // only one place they can be meant for.
    const auto interfaces = netInterfaces();
    if (isMulticast(destination) || destination == kLimitedBroadcast) {
        int candidates = 0;
        for (const NetInterface &one : interfaces)
            if (one.up && !one.loopback && one.address != 0)
                ++candidates, path.via = one;
        if (candidates == 1) {
            path.choice = NetPath::Choice::OnlyInterface;
            path.source = path.via.address;
            return true;
        }
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
        return text + " (no route, and the only interface up)";
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
    // bound to its address, the receivers see where the frames come from.
    if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, path.via.name.c_str(),
            static_cast<socklen_t>(path.via.name.size()))
        != 0)
        return failed("cannot bind to");
    sockaddr_in local { AF_INET, 0, { htonl(path.via.address) }, {} };
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return failed("cannot send from the address of");
    const ip_mreqn multicast { {}, { htonl(path.via.address) }, static_cast<int>(path.via.index) };
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &multicast, sizeof multicast) != 0)
        return failed("cannot send multicast by");
    return true;
}

bool resolveNetTarget(const OutputConfig &config, NetTarget &target, std::string &why)
{
    const bool artnet = config.kind == OutputKind::ArtNet;
    const int64_t universe = config.universe >= 0 ? config.universe : artnet ? 0 : 1;
    if (artnet ? universe > kArtNetMaxPortAddress
               : universe < kSacnMinUniverse || universe > kSacnMaxUniverse) {
        why = artnet ? "port-address out of range 0-32767" : "universe out of range 1-63999";
        return false;
    }
    target.universe = static_cast<uint16_t>(universe);
    // DASHARD_OUTPUT always gives sACN 5568; another port is honoured for receivers there.
    target.port = config.port != 0 ? config.port : artnet ? kArtNetPort : kSacnPort;
    if (!config.host.empty()) {
        in_addr address {};
        if (inet_pton(AF_INET, config.host.c_str(), &address) != 1) {
            why = "\"" + config.host + "\" is not a dotted IPv4 address";
            return false;
        }
        target.host = ntohl(address.s_addr);
    } else if (!artnet) {
        target.host = sacnMulticastGroup(target.universe);
    } else if (config.interface.empty()) {
        target.host = INADDR_LOOPBACK;
    } else {
        // Art-Net by a named interface but to no node: the network behind it, by broadcast.
        NetInterface via;
        if (!findInterface(config.interface, via, why))
            return false;
        if (via.broadcast == 0) {
            why = via.name + " has no broadcast address: name the node (artnet:HOST)";
            return false;
        }
        target.host = via.broadcast;
    }
    return chooseNetPath(config.interface, target.host, target.port, target.path, why);
}

} // namespace das
