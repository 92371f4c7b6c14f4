// What one network scan found, gathered while it listened, and its report in words: one block
// for Art-Net, one for sACN.
#pragma once

#include "encode/artnet.h"
#include "encode/sacn.h"
#include "net/net_scan.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace das {

// One CID from one address: the same CID from two is a cloned system.
struct ScanSource
{
    SacnHeard heard; // its last packet
    uint32_t from = 0;
    int live = -1; // the highest priority it sent live data at; -1: none, only preview data
};

// Where a scan looked and what it heard there, each node, sender and source once.
struct ScanFindings
{
    uint16_t universe = 0; // the stream's port-address or universe
    std::string by; // " by eth1", or empty when the way out names no device
    uint32_t pollTo = 0; // where the ArtPoll went
    bool polled = false; // the ArtPoll left, and its socket was heard on
    bool listened = false; // sACN's socket was heard on
    std::vector<ArtNode> nodes;
    std::vector<uint32_t> senders; // of ArtDmx to an Art-Net stream's port-address
    std::vector<ScanSource> sources; // of the universe, for an sACN stream
    std::vector<uint32_t> here; // this machine's addresses as the scan ends
    bool isHere(uint32_t address) const;
};

// The nodes that answered the ArtPoll, and for an Art-Net stream who else sends its
// port-address, warning of each sender at no address of this machine.
void reportArtNet(const ScanFindings &found, const ScanStream &stream,
    std::chrono::milliseconds wait, ScanReport &report);

// For an sACN stream, every source of its universe, warning of a clone of this machine's
// console and of any other that sends live data at the stream's priority or above.
void reportSacn(const ScanFindings &found, const ScanStream &stream, std::chrono::milliseconds wait,
    ScanReport &report);

} // namespace das
