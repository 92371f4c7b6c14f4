// The Art-Net kind: ArtDmx over UDP to a node or a broadcast address.
#include "encode/artnet.h"
#include "net/network_check.h"
#include "net/network_kind.h"
#include "net/network_outputs.h"

namespace das {

namespace {

constexpr NetworkForm kForm { "artnet", kArtNetPort, true, 0, kArtNetMaxPortAddress, {} };

// Without a host: this machine, unless an interface is named, whose network's broadcast address
// the output finds when it opens.
std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    auto config = parseNetwork(kForm, rest, why);
    if (config && config->host.empty() && config->interface.empty())
        config->host = "127.0.0.1";
    return config;
}

std::string describeTo(const OutputConfig &config, const std::string &destination)
{
    return "Art-Net to " + destination + ":" + std::to_string(config.port) + ", port-address "
        + std::to_string(config.universe);
}

std::string describe(const OutputConfig &config)
{
    return describeTo(config, destinationText(config));
}

bool check(const OutputConfig &config, const Say &say, std::string &why)
{
    return checkNetwork(config, openArtNet, say, why);
}

bool report(const OutputConfig &config, const Say &say, std::string &why)
{
    return reportNetwork(config, describeTo, openArtNet, say, why);
}

int scan(const OutputConfig *inForce, const Say &say)
{
    if (!inForce)
        return 0;
    return scanNetworkKind(
        *inForce, { .artDmx = static_cast<uint16_t>(inForce->universe), .sacn = {} }, say);
}

} // namespace

extern const OutputKindUnit kArtNetKind = { "artnet", "artnet[:HOST[:PORT]][@U][,if=IF]", parse,
    openArtNet, describe, check, scan, {}, report };

} // namespace das
