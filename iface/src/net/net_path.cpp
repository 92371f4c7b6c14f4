// The network outputs' shared part: listing interfaces, the once-at-open choice of the way out,
// and pinning a socket to it.
#include "net/net_path.h"

#include "net/net_route.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
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

const NetAddress *NetInterface::find(uint32_t address) const
{
    for (const NetAddress &one : addresses)
        if (one.address == address)
            return &one;
    return nullptr;
}

bool firstOnItsNetwork(const NetInterface &device, const NetAddress &address)
{
    for (const NetAddress &one : device.addresses)
        if (one.netmask == address.netmask && one.holds(address.address))
            return &one == &address;
    return false;
}

std::vector<NetInterface> netInterfaces()
{
    std::vector<NetInterface> devices;
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0)
        return devices;
    for (const ifaddrs *each = all; each; each = each->ifa_next) {
        // getifaddrs names an address by its label; the device is the part before the colon.
        const std::string name(each->ifa_name, std::strcspn(each->ifa_name, ":"));
        NetInterface *device = nullptr;
        for (NetInterface &one : devices)
            if (one.name == name)
                device = &one;
        if (!device) {
            device = &devices.emplace_back();
            device->name = name;
            device->index = ::if_nametoindex(name.c_str());
        }
        device->up = device->up || (each->ifa_flags & IFF_UP);
        device->running = device->running || (each->ifa_flags & IFF_RUNNING);
        device->loopback = device->loopback || (each->ifa_flags & IFF_LOOPBACK);
        if (each->ifa_addr && each->ifa_addr->sa_family == AF_INET && each->ifa_netmask) {
            NetAddress &added = device->addresses.emplace_back();
            added.address = hostOrder(each->ifa_addr);
            added.netmask = hostOrder(each->ifa_netmask);
            // From the netmask: an address added without "brd" shows itself as its broadcast.
            // Networks of one or two addresses (/32, /31) have none: their "broadcast" is a host.
            if ((each->ifa_flags & IFF_BROADCAST) && added.netmask < 0xfffffffeu)
                added.broadcast = added.address | ~added.netmask;
        }
    }
    ::freeifaddrs(all);
    return devices;
}

std::vector<uint32_t> localAddresses()
{
    std::vector<uint32_t> addresses;
    for (const NetInterface &device : netInterfaces())
        for (const NetAddress &one : device.addresses)
            addresses.push_back(one.address);
    return addresses;
}

std::string broadcastOf(uint32_t host)
{
    if (host == 0xffffffffu)
        return "every network";
    for (const NetInterface &device : netInterfaces())
        for (const NetAddress &one : device.addresses)
            if (one.broadcast != 0 && host == one.broadcast)
                return device.name + "'s network " + networkText(one);
    return "";
}

std::string interfaceList(const std::vector<NetInterface> &interfaces)
{
    std::string list;
    for (const NetInterface &one : interfaces) {
        list += (list.empty() ? "" : ", ") + one.name;
        for (const NetAddress &each : one.addresses)
            list += (&each == &one.addresses.front() ? " " : " and ") + ipv4Text(each.address);
        const char *state = !one.up ? " (down)" : one.running ? "" : " (no link)";
        list += (one.addresses.empty() ? " no IPv4 address" : "") + std::string(state);
    }
    return list.empty() ? "none" : list;
}

std::string networkText(const NetAddress &address)
{
    return ipv4Text(address.address & address.netmask) + "/"
        + std::to_string(std::popcount(address.netmask));
}

std::string networkList(const NetInterface &device)
{
    std::string list;
    for (const NetAddress &one : device.addresses)
        if (firstOnItsNetwork(device, one))
            list += (list.empty() ? "" : " and ") + networkText(one);
    return list;
}

bool findInterface(
    const std::string &wanted, NetInterface &found, uint32_t &address, std::string &why)
{
    const auto interfaces = netInterfaces();
    in_addr named {};
    const bool byAddress = inet_pton(AF_INET, wanted.c_str(), &named) == 1;
    address = byAddress ? ntohl(named.s_addr) : 0;
    for (const NetInterface &one : interfaces) {
        if (!one.addresses.empty()
            && (byAddress ? one.find(address) != nullptr : one.name == wanted)) {
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

bool lacksLink(const NetInterface &via) { return via.up && !via.running; }

std::string noLinkText(const NetInterface &via) { return via.name + " has no link (cable out?)"; }

std::string deviceTrouble(NetInterface &via, int fd)
{
    // By its index, which a rename keeps: the name it has now, then its flags.
    char name[IF_NAMESIZE] = {};
    ifreq request {};
    if (!::if_indextoname(via.index, name))
        return via.name + " is gone (adapter out?)";
    via.name = name;
    via.name.copy(request.ifr_name, IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return via.name + " is gone (adapter out?)";
    via.up = request.ifr_flags & IFF_UP;
    via.running = request.ifr_flags & IFF_RUNNING;
    return !via.up ? via.name + " is down (taken down?)" : !via.running ? noLinkText(via) : "";
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
