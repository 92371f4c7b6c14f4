// What brivane-check says of an Art-Net or sACN setting, shared by the two kinds: where its frames
// go in words, the check of the way out, and the scan of the network.
#pragma once

#include "net/net_scan.h"
#include "output_kind.h"

#include <memory>
#include <string>

namespace das {

// "10.0.0.255" or "the broadcast address of eth1": where the frames of `config` go, known without
// the interface (the check says what is wrong with it).
std::string destinationText(const OutputConfig &config);

// A network kind's own words for `config`, with `destination` where its frames go as
// destinationText says it.
using DescribeNetwork = std::string (*)(const OutputConfig &config, const std::string &destination);
// A network kind's factory, in the form that opens to a target resolved already.
using OpenNetTarget = std::unique_ptr<Backend> (*)(
    const OutputConfig &config, const NetTarget &to, std::string &why);

// Opens the socket by `open`, which sends nothing, and says which interface and address frames
// leave by.
bool checkNetwork(const OutputConfig &config, OpenNetTarget open, const Say &say, std::string &why);

// The Output line, as `describe` words it, then checkNetwork's: both from one look at where the
// frames go and by which way, so that they cannot tell of two different ways out.
bool reportNetwork(const OutputConfig &config, DescribeNetwork describe, OpenNetTarget open,
    const Say &say, std::string &why);

// The network side of brivane-check --scan for `config` in force, which streams `stream`.
int scanNetworkKind(const OutputConfig &config, const ScanStream &stream, const Say &say);

} // namespace das
