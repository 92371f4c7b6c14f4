// The sACN (E1.31) kind: to a universe's multicast group or one receiver.
#include "check_report.h"
#include "encode/sacn.h"
#include "net/network_check.h"
#include "net/network_kind.h"
#include "net/network_outputs.h"
#include "net/sacn_cid.h"

namespace das {

namespace {

// Receivers merge sources by priority; one left at the default merges with the others there.
constexpr KindOption kOptions[] = {
    { "priority", 0, kSacnMaxPriority, kSacnDefaultPriority, &OutputConfig::priority },
};

constexpr NetworkForm kForm { "sacn", kSacnPort, false, kSacnMinUniverse, kSacnMaxUniverse,
    kOptions };

std::string groupOf(const OutputConfig &config)
{
    return ipv4Text(sacnMulticastGroup(static_cast<uint16_t>(config.universe)));
}

// Without a host: the universe's multicast group.
std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    auto config = parseNetwork(kForm, rest, why);
    if (config && config->host.empty())
        config->host = groupOf(*config);
    return config;
}

std::string describeTo(const OutputConfig &config, const std::string &destination)
{
    return "sACN (E1.31) universe " + std::to_string(config.universe) + " to "
        + (config.host == groupOf(config) ? "its multicast group " : "") + destination
        + ", priority " + std::to_string(config.priority);
}

std::string describe(const OutputConfig &config)
{
    return describeTo(config, destinationText(config));
}

bool check(const OutputConfig &config, const Say &say, std::string &why)
{
    return checkNetwork(config, openSacn, say, why);
}

bool report(const OutputConfig &config, const Say &say, std::string &why)
{
    return reportNetwork(config, describeTo, openSacn, say, why);
}

int scan(const OutputConfig *inForce, const Say &say)
{
    if (!inForce)
        return 0;
    std::string why;
    const ScanStream::Sacn stream { static_cast<uint16_t>(inForce->universe), inForce->priority,
        machineSacnCid(kMachineIdFiles, askingUser(), why), sacnSourceName() };
    return scanNetworkKind(*inForce, { .artDmx = {}, .sacn = stream }, say);
}

} // namespace

extern const OutputKindUnit kSacnKind = { "sacn", "sacn[:HOST][@U][,if=IF][,priority=P]", parse,
    openSacn, describe, check, scan, kOptions, report };

} // namespace das
