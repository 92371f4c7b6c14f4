// The way a network output's frames leave, decided once at open: by the routing table or pinned
// to one interface, the socket made to keep to it, and where a setting's frames go.
#pragma once

#include "net/net_interfaces.h"

#include <cstdint>
#include <string>

namespace das {

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

// Makes `fd`, a UDP socket, send by `path`: when pinned, bound to its interface and source
// address (when known), and multicast set to leave by it. Whether broadcast is allowed is up to
// the caller.
bool applyNetPath(int fd, const NetPath &path, std::string &why);

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
