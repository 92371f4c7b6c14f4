// The sACN (E1.31) kind: to a universe's multicast group or one receiver.
#include "net/network_kind.h"

namespace das {

namespace {

std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    return parseNetwork(OutputKind::Sacn, rest, why);
}

} // namespace

extern const OutputKindUnit kSacnKind
    = { OutputKind::Sacn, "sacn", "sacn[:HOST][@U][,if=INTERFACE][,priority=P]", parse, openSacn,
          describeNetwork, checkNetwork, scanNetworkKind };

} // namespace das
