// The OLA kind: the OLA daemon on this machine, through the module that links libola.
#include "ola/ola_module.h"
#include "output_kind.h"

namespace das {

namespace {

constexpr int64_t kOlaMaxUniverse = 4294967295; // olad numbers universes with unsigned 32 bits

// OLA numbers its universes itself: 0 is one of them, and the top is olad's.
std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.universe = 1;
    config.port = kOlaPort;
    if (rest.empty())
        return config;
    if (rest.front() != '@') {
        why = "ola takes no target, only @UNIVERSE";
        return std::nullopt;
    }
    if (!parseNumber("universe", rest.substr(1), 0, kOlaMaxUniverse, config.universe, why))
        return std::nullopt;
    return config;
}

std::string describe(const OutputConfig &config)
{
    return "the OLA daemon on this machine, universe " + std::to_string(config.universe);
}

bool check(const OutputConfig &config, const Say &say, std::string &why)
{
    std::string report;
    const bool ok = checkOla(config, report, why);
    if (!report.empty())
        say("OLA", report);
    return ok;
}

} // namespace

extern const OutputKindUnit kOlaKind
    = { "ola", "ola[@U]", parse, openOla, describe, check, nullptr, {} };

} // namespace das
