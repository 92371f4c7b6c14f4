// What is on the wire where an Art-Net or sACN output would send: the nodes that answer one
// ArtPoll, and the other sources of the output's sACN universe. For brivane-check --scan.
#pragma once

#include "net/net_path.h"

#include <chrono>
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

// For an artnet or sacn `config`: sends one ArtPoll by the way its frames would leave and lists,
// within `wait`, the nodes that answer, marking those that output an Art-Net config's
// port-address, and the other senders of that port-address; for sacn, listens as long for its
// universe and lists every source. Warns of other consoles: sACN sources at its priority or
// above, sending live data, that are not this machine's console (our CID), and Art-Net senders
// at no address of this machine. Binds UDP 6454 and 5568 only where they are free (else says
// which program holds them and does the rest), sends nothing else, and closes all it opened.
ScanReport scanNetwork(const OutputConfig &config, std::chrono::milliseconds wait);

// The program that holds local UDP `port` ("olad (pid 812)"), "another program" when it cannot
// be told, or empty when the port is free.
std::string udpPortHolder(uint16_t port);

} // namespace das
