// What DASHARD_OUTPUT says: which output, and where it sends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace das {

enum class OutputKind { None, ArtNet, Sacn, UsbPro, OpenDmx, Ola };

struct OutputConfig
{
    OutputKind kind = OutputKind::ArtNet;
    // artnet, sacn: dotted IPv4; empty means the kind's default (artnet: 127.0.0.1, or with an
    // interface named, that interface's broadcast address; sacn: the universe's multicast group)
    std::string host;
    uint16_t port = 0; // artnet: UDP port (default 6454); sacn: always 5568
    // artnet: port-address 0-32767 (default 0); sacn: 1-63999 (default 1); ola: OLA's own
    // universe id, 0-4294967295 (default 1)
    int64_t universe = -1;
    std::string device; // usbpro, opendmx: the tty path (usbpro: empty = the first that answers)
    // artnet, sacn: the network interface frames leave by, a name or one of its IPv4 addresses;
    // empty lets the routing table choose
    std::string interface;
    int priority = 100; // sacn: 0-200, as receivers merge sources
};

// Parses KIND[:TARGET][@UNIVERSE][,OPTION=VALUE...]. Empty text means the default output
// (Art-Net to 127.0.0.1, port-address 0). On a malformed value returns nullopt and says what is
// wrong in `why`.
// Each kind's form is in output_kind.h.
std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why);

// The kinds' parsers' shared parts. A strict decimal (digits only, at most ten) between `low` and
// `high`, named `what` in messages:
bool parseNumber(std::string_view what, std::string_view text, int64_t low, int64_t high,
    int64_t &value, std::string &why);
// A dotted IPv4 address, never a name: a lookup could block the caller for seconds.
bool parseHost(std::string_view text, std::string &host, std::string &why);

} // namespace das
