// Listing the machine's interfaces, looking at one's link, and wording them for messages.
#include "net/net_interfaces.h"

#include <arpa/inet.h>
#include <bit>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace das {

namespace {

uint32_t hostOrder(const sockaddr *address)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
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

} // namespace das
