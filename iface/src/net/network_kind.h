// What the Art-Net and sACN kinds' parsers share: the setting's target and options.
#pragma once

#include "output_kind.h"

#include <optional>
#include <span>

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

} // namespace das
