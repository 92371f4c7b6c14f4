// What DASHARD_OUTPUT says, resolved by its kind: which output, and where it sends, every default
// filled in and every range checked, so that the output opened from it takes it as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace das {

struct OutputConfig
{
    std::string kind; // the kind's name, as the setting begins ("artnet")
    // artnet, sacn: dotted IPv4 (sacn without one in the setting: the universe's multicast
    // group); empty only for artnet with an interface named: that interface's broadcast address
    std::string host;
    uint16_t port = 0; // artnet: UDP port; sacn: 5568; ola: olad's RPC port
    // artnet: port-address 0-32767; sacn: 1-63999; ola: OLA's own universe id, 0-4294967295
    int64_t universe = -1;
    std::string device; // usbpro, opendmx: the tty path (usbpro: empty = the first that answers)
    // artnet, sacn: the network interface frames leave by, a name or one of its IPv4 addresses;
    // empty lets the routing table choose
    std::string interface;
    int priority = 0; // sacn: as receivers merge sources (its range and default: the sACN kind)
};

// The kinds' parsers' shared parts. A strict decimal (digits only, at most ten) between `low` and
// `high`, named `what` in messages:
bool parseNumber(std::string_view what, std::string_view text, int64_t low, int64_t high,
    int64_t &value, std::string &why);
// A dotted IPv4 address, never a name: a lookup could block the caller for seconds.
bool parseHost(std::string_view text, std::string &host, std::string &why);

// Parses KIND[:TARGET][@UNIVERSE][,OPTION=VALUE...] by the kind's own parser. Empty text means
// the default kind with its defaults (Art-Net to 127.0.0.1, port-address 0). On a malformed
// value returns nullopt and says what is wrong in `why`.
std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why);

} // namespace das
