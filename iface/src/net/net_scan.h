// What is on the wire where an Art-Net or sACN output would send: the nodes that answer one
// ArtPoll, and the other sources of the output's sACN universe. For brivane-check --scan.
#pragma once

#include "encode/sacn.h"
#include "net/net_route.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace das {

inline constexpr std::chrono::milliseconds kScanWait { 3000 };

struct ScanReport
{
    std::vector<std::string> lines; // what was done and found, one line each
    std::vector<std::string> warnings; // another source fighting ours, a port held elsewhere
    int found = 0; // nodes that answered and sources heard
};

// What the output in force streams, so that the scan can tell who else streams the same: ArtDmx
// to a port-address, or sACN to a universe at a priority. This machine's console is known by its
// CID (`ours`), or where the machine has no ID to derive one from, by its source name.
struct ScanStream
{
    struct Sacn
    {
        uint16_t universe = 1;
        int priority = 0;
        std::optional<Cid> ours;
        std::string name;
    };
    std::optional<uint16_t> artDmx; // the port-address
    std::optional<Sacn> sacn;
};

// Sends one ArtPoll by `target`'s way out (to its network's broadcast address when known) and
// lists, within `wait`, the nodes that answer, marking those that output the stream's
// port-address, and the other senders of that port-address; for an sACN stream, listens as long
// for its universe and lists every source. This machine's console sends from one of its
// addresses. Warns of other consoles: sACN sources that sent live data at the stream's priority
// or above and are not this machine's console, sources with its CID elsewhere (a cloned system),
// and Art-Net senders at no address of this machine. Binds UDP 6454 and 5568 only where they are
// free (else says which program holds them and does the rest), sends nothing else, and closes all
// it opened.
ScanReport scanNetwork(
    const NetTarget &target, const ScanStream &stream, std::chrono::milliseconds wait);

} // namespace das
