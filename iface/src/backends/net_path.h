// What the network outputs share: the machine's interfaces, and the decision, made once at open,
// of which interface and local address their frames leave by.
#pragma once

#include "output_config.h"

#include <cstdint>
#include <string>
#include <vector>

namespace das {

// One interface as the kernel lists it, with its first IPv4 address (0: it has none).
struct NetInterface
{
    std::string name;
    unsigned index = 0;
    uint32_t address = 0; // host order
    uint32_t broadcast = 0; // host order; 0: no broadcast address
    bool up = false;
    bool loopback = false;
};

// Every interface of this network namespace, in the kernel's order.
std::vector<NetInterface> netInterfaces();

// "eth1 10.0.0.5, eth2 no IPv4 address, wlan0 192.168.1.20 (down)", or "none".
std::string interfaceList(const std::vector<NetInterface> &interfaces);

// The interface named by `wanted` (a name, or one of its IPv4 addresses) with an IPv4 address.
// On failure returns false with one line naming it and listing the interfaces there are.
bool findInterface(const std::string &wanted, NetInterface &found, std::string &why);

std::string ipv4Text(uint32_t hostOrder);

// How frames leave: by the routing table, or pinned to one interface (named in the setting, or
// the only one there is when the table has no route). Pinned frames leave by that interface
// alone, from its address.
struct NetPath
{
    enum class Choice { RoutingTable, Named, OnlyInterface } choice = Choice::RoutingTable;
    NetInterface via; // pinned: the interface; by the table: the one it picks, when known
    uint32_t source = 0; // the local address frames leave from, host order
    bool pinned() const { return choice != Choice::RoutingTable; }
};

// Decides at open how frames to `destination`:`port` (host order) leave, `wanted` being the
// setting's interface or empty. Sends nothing. On failure returns false with one line saying why
// and listing the interfaces there are.
bool chooseNetPath(const std::string &wanted, uint32_t destination, uint16_t port, NetPath &path,
    std::string &why);

// "by eth1 from 10.0.0.5 (the only interface up)", for messages.
std::string describePath(const NetPath &path);

// Makes `fd`, a UDP socket, send by `path`: when pinned, bound to its interface and address, and
// multicast set to leave by it. Whether broadcast is allowed is up to the caller.
bool applyNetPath(int fd, const NetPath &path, std::string &why);

inline bool isMulticast(uint32_t host) { return (host >> 28) == 0xe; }

// Where an artnet or sacn output sends, and by which way.
struct NetTarget
{
    uint32_t host = 0; // host order
    uint16_t port = 0;
    uint16_t universe = 0; // Art-Net port-address or sACN universe
    NetPath path;
};

// Fills in the kind's defaults (Art-Net: 127.0.0.1, or the named interface's broadcast address,
// port-address 0; sACN: universe 1 by its multicast group), checks the ranges and chooses the
// way out. On failure returns false with one line saying why.
bool resolveNetTarget(const OutputConfig &config, NetTarget &target, std::string &why);

} // namespace das
