// What the Art-Net and sACN kinds share: the setting's target and options, the destination in
// words, the check of the way out, the scan of the network, and the outputs' factories.
#pragma once

#include "net/net_scan.h"
#include "output_kind.h"

#include <optional>

namespace das {

// What a network kind's setting may hold, for the shared parser.
struct NetworkForm
{
    std::string_view name;
    uint16_t port; // the UDP port frames go to unless the setting names one
    bool portGiven; // whether ":PORT" may follow the host
    int64_t firstUniverse, lastUniverse; // the first is the default
    std::span<const KindOption> options; // the numbers it takes beside if=INTERFACE
};

// [:HOST[:PORT]][@U][,if=INTERFACE][,OPTION=N...] after the name, as far as `form` allows, into a
// config with the port and universe resolved; the host stays empty when the setting gives none.
std::optional<OutputConfig> parseNetwork(
    const NetworkForm &form, std::string_view rest, std::string &why);

// "10.0.0.255" or "the broadcast address of eth1": where the frames of `config` go, known without
// the interface (the check says what is wrong with it).
std::string destinationText(const OutputConfig &config);

// Opens the socket, which sends nothing, and says which interface and address frames leave by.
bool checkNetwork(const OutputConfig &config, const Say &say, std::string &why);

// The network side of brivane-check --scan for `config` in force, which streams `stream`.
int scanNetworkKind(const OutputConfig &config, const ScanStream &stream, const Say &say);

std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why);

} // namespace das
