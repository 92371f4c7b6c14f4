// What the network outputs share: the machine's interfaces, and the decision, made once at open,
// of which interface and local address their frames leave by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace das {

// One IPv4 address of a device and the network it puts the device on.
struct NetAddress
{
    uint32_t address = 0; // host order, like the two below
    uint32_t netmask = 0;
    uint32_t broadcast = 0; // 0: no broadcast address
    bool holds(uint32_t host) const { return (host & netmask) == (address & netmask); }
};

// One network device as the kernel lists it, with every IPv4 address it has. An address added
// with a label ("eth0:1") belongs to its device (eth0): a label is no device to bind to.
struct NetInterface
{
    std::string name;
    unsigned index = 0;
    std::vector<NetAddress> addresses; // in the kernel's order; empty: no IPv4 address
    bool up = false;
    bool running = false; // up and with a link (a carrier)
    bool loopback = false;
    const NetAddress *find(uint32_t address) const;
};

// Whether `address`, one of `device`'s, is the first it has on that network: addresses on one
// network are one network to send on.
bool firstOnItsNetwork(const NetInterface &device, const NetAddress &address);

// Every device of this network namespace, in the kernel's order.
std::vector<NetInterface> netInterfaces();

// Every IPv4 address of this machine (this network namespace), loopback's too, host order.
std::vector<uint32_t> localAddresses();

// What `host` (host order) is the broadcast address of: a device of this machine whose network it
// ends, "every network" for 255.255.255.255, or empty when it is none of these.
std::string broadcastOf(uint32_t host);

// "eth1 10.0.0.5 and 2.0.0.5, eth2 no IPv4 address, wlan0 192.168.1.20 (no link)", or "none".
std::string interfaceList(const std::vector<NetInterface> &interfaces);

// "10.0.0.0/8": the network `address` is on.
std::string networkText(const NetAddress &address);

// "10.0.0.0/8 and 2.0.0.0/8": the networks of `device`.
std::string networkList(const NetInterface &device);

// The device `wanted` names (its name, or one of its IPv4 addresses), when it has an IPv4
// address; `address` is the one named, or 0 when named by its name. On failure returns false with
// one line naming it and listing the interfaces there are.
bool findInterface(
    const std::string &wanted, NetInterface &found, uint32_t &address, std::string &why);

std::string ipv4Text(uint32_t hostOrder);

// How frames leave: by the routing table, or pinned to one interface (named in the setting, or
// the only one there is when the table has no route). Pinned frames leave by that interface
// alone, from its address.
struct NetPath
{
    enum class Choice { RoutingTable, Named, OnlyInterface } choice = Choice::RoutingTable;
    NetInterface via; // pinned: the interface; by the table: the one it picks, when known
    uint32_t source = 0; // the local address frames leave from, host order
    uint32_t broadcast = 0; // the broadcast address of the source's network, when known
    bool pinned() const { return choice != Choice::RoutingTable; }
};

// Decides at open how frames to `destination`:`port` (host order) leave, `wanted` being the
// setting's interface or empty. Sends nothing. On failure returns false with one line saying why
// and listing the interfaces there are.
bool chooseNetPath(const std::string &wanted, uint32_t destination, uint16_t port, NetPath &path,
    std::string &why);

// "by eth1 from 10.0.0.5 (no route, and the only interface up with a link)", for messages.
std::string describePath(const NetPath &path);

// Whether the interface frames leave by is up without a link (a cable out, the switch off).
// Down, or unknown, is not this: sends fail then, and tell.
bool lacksLink(const NetInterface &via);

// "eth1 has no link (cable out?)".
std::string noLinkText(const NetInterface &via);

// What is wrong with the device `via` now, found by its index (a rename changes nothing; its
// name, up and running are brought up to date): "eth1 is gone (adapter out?)", "eth1 is down
// (taken down?)", noLinkText, or empty when it is up with a link. `fd`: any socket, to ask by.
std::string deviceTrouble(NetInterface &via, int fd);

// Makes `fd`, a UDP socket, send by `path`: when pinned, bound to its interface and source
// address (when known), and multicast set to leave by it. Whether broadcast is allowed is up to
// the caller.
bool applyNetPath(int fd, const NetPath &path, std::string &why);

inline bool isMulticast(uint32_t host) { return (host >> 28) == 0xe; }

// Where a network output sends, and by which way.
struct NetTarget
{
    uint32_t host = 0; // host order
    uint16_t port = 0;
    NetPath path;
};

// Where frames to `host` (dotted IPv4 as the setting's parser checked it; empty: the broadcast
// address of the network `interface` is on) and `port` go, and the way out, by `interface` (the
// setting's, or empty). On failure returns false with one line saying why; when the way out was
// found but has no link, `target.path` holds it.
bool resolveNetTarget(const std::string &host, uint16_t port, const std::string &interface,
    NetTarget &target, std::string &why);

} // namespace das
