// What the Art-Net and sACN kinds share: the setting's target and options, the description, the
// check of the way out, and the scan of the network.
#pragma once

#include "output_kind.h"

namespace das {

// KIND[:HOST[:PORT]][@U][,if=INTERFACE][,priority=P] after the name; sACN takes no port, and
// only sACN a priority.
std::optional<OutputConfig> parseNetwork(OutputKind kind, std::string_view rest, std::string &why);

std::string describeNetwork(const OutputConfig &config);

// Opens the socket, which sends nothing, and says which interface and address frames leave by.
bool checkNetwork(const OutputConfig &config, const Say &say, std::string &why);

// The network side of brivane-check --scan, for a setting of this kind in force.
int scanNetworkKind(const OutputConfig *inForce, const Say &say);

} // namespace das
