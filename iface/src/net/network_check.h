// What brivane-check says of an Art-Net or sACN setting, shared by the two kinds: where its frames
// go in words, the check of the way out, and the scan of the network.
#pragma once

#include "net/net_scan.h"
#include "output_kind.h"

#include <string>

namespace das {

// "10.0.0.255" or "the broadcast address of eth1": where the frames of `config` go, known without
// the interface (the check says what is wrong with it).
std::string destinationText(const OutputConfig &config);

// Opens the socket, which sends nothing, and says which interface and address frames leave by.
bool checkNetwork(const OutputConfig &config, const Say &say, std::string &why);

// The network side of brivane-check --scan for `config` in force, which streams `stream`.
int scanNetworkKind(const OutputConfig &config, const ScanStream &stream, const Say &say);

} // namespace das
