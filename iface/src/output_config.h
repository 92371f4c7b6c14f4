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
    std::string host;     // artnet, sacn: dotted IPv4; empty means the kind's default
    uint16_t port = 0;    // artnet: UDP port (default 6454); sacn: always 5568
    int universe = -1;    // artnet: port-address 0-32767 (default 0); sacn, ola: 1-63999 (default 1)
    std::string device;   // usbpro, opendmx: the tty path (usbpro: empty = the first that answers)
};

// The accepted forms, for messages.
inline constexpr std::string_view kOutputForms
    = "artnet[:HOST[:PORT]][@U] | sacn[:HOST][@U] | usbpro[:DEVICE] | opendmx:DEVICE | ola[@U] | none";

// Parses KIND[:TARGET][@UNIVERSE]. Empty text means the default output (Art-Net to 127.0.0.1,
// port-address 0). On a malformed value returns nullopt and says what is wrong in `why`.
std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why);

} // namespace das
