// The machine's network interfaces as the network outputs see them: each device with its IPv4
// addresses and link, what is wrong with one now, and how messages name them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace das {

// "10.0.0.5": an address (host order) as messages show it.
std::string ipv4Text(uint32_t hostOrder);

inline bool isMulticast(uint32_t host) { return (host >> 28) == 0xe; }

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

// Whether the interface frames leave by is up without a link (a cable out, the switch off).
// Down, or unknown, is not this: sends fail then, and tell.
bool lacksLink(const NetInterface &via);

// "eth1 has no link (cable out?)".
std::string noLinkText(const NetInterface &via);

// What is wrong with the device `via` now, found by its index (a rename changes nothing; its
// name, up and running are brought up to date): "eth1 is gone (adapter out?)", "eth1 is down
// (taken down?)", noLinkText, or empty when it is up with a link. `fd`: any socket, to ask by.
std::string deviceTrouble(NetInterface &via, int fd);

} // namespace das
