// The Art-Net kind: ArtDmx over UDP to a node or a broadcast address.
#include "net/network_kind.h"

namespace das {

namespace {

std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    return parseNetwork(OutputKind::ArtNet, rest, why);
}

} // namespace

extern const OutputKindUnit kArtNetKind
    = { OutputKind::ArtNet, "artnet", "artnet[:HOST[:PORT]][@U][,if=INTERFACE]", parse, openArtNet,
          describeNetwork, checkNetwork, scanNetworkKind };

} // namespace das
