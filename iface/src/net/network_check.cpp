// The network kinds' check and scan: the target resolved once for all that is said of it, the way
// out said and compared with a running console's, and the scan's report passed on line by line.
#include "net/network_check.h"

#include "check_report.h"
#include "net/net_route.h"
#include "net/way_out_record.h"

#include <netinet/in.h>

namespace das {

namespace {

// Where a setting's frames go and by which way, found once for all that is said of it.
struct Resolved
{
    bool found = false;
    NetTarget target; // not found, but without a link: the way out it would take
    std::string why; // not found: why
};

Resolved resolve(const OutputConfig &config)
{
    Resolved resolved;
    resolved.found = resolveNetTarget(
        config.host, config.port, config.interface, resolved.target, resolved.why);
    return resolved;
}

std::string destinationOf(const OutputConfig &config, const Resolved &resolved)
{
    return resolved.found      ? ipv4Text(resolved.target.host)
        : !config.host.empty() ? config.host
                               : "the broadcast address of " + config.interface;
}

bool checkResolved(const OutputConfig &config, const Resolved &resolved, OpenNetTarget open,
    const Say &say, std::string &why)
{
    const NetTarget &target = resolved.target;
    if (!resolved.found) {
        why = resolved.why;
        if (lacksLink(target.path.via))
            say("Route", "frames would leave " + describePath(target.path) + ", but " + why);
        return false;
    }
    // Beside a console whose output opened by another way: the device it sent by has gone, and
    // the table now sends elsewhere (Wi-Fi's default route), where no node is.
    const NetPath &path = target.path;
    if (RecordedWay console; !path.pinned()
        && recordedWayOut(target.host, target.port, askingUser(), console)
        && console.way != WayOut { path.via.index, path.source }) {
        why = "the console's output opened by " + console.name + " from "
            + ipv4Text(console.way.source) + " (adapter out or taken down?)";
        say("Route", "frames would leave " + describePath(path) + ", but " + why);
        return false;
    }
    say("Route", "frames leave " + describePath(target.path));
    // The kernel takes a host off the named interface's networks as on its cable: it answers
    // there only if it is (a node with a foreign address), else nothing reaches it.
    const NetInterface &via = target.path.via;
    bool onItsNetworks = isMulticast(target.host) || target.host == INADDR_BROADCAST;
    for (const NetAddress &one : via.addresses)
        onItsNetworks = onItsNetworks || one.holds(target.host);
    if (target.path.choice == NetPath::Choice::Named && !onItsNetworks)
        say("Warning",
            ipv4Text(target.host) + " is not on " + via.name + "'s networks (" + networkList(via)
                + "): frames reach it only if it is on that cable");
    // Opening a network output only makes its socket; the goodbye packets of a close are sent
    // by stop(), which is never called here.
    return open(config, target, why) != nullptr;
}

} // namespace

std::string destinationText(const OutputConfig &config)
{
    return destinationOf(config, resolve(config));
}

bool checkNetwork(const OutputConfig &config, OpenNetTarget open, const Say &say, std::string &why)
{
    return checkResolved(config, resolve(config), open, say, why);
}

bool reportNetwork(const OutputConfig &config, DescribeNetwork describe, OpenNetTarget open,
    const Say &say, std::string &why)
{
    const Resolved resolved = resolve(config);
    say("Output", describe(config, destinationOf(config, resolved)));
    return checkResolved(config, resolved, open, say, why);
}

int scanNetworkKind(const OutputConfig &config, const ScanStream &stream, const Say &say)
{
    NetTarget target;
    std::string why;
    if (!resolveNetTarget(config.host, config.port, config.interface, target, why)) {
        say("", "Network: not scanned: " + why);
        return 0;
    }
    const ScanReport report = scanNetwork(target, stream, kScanWait);
    for (const std::string &text : report.lines)
        say("", text);
    for (const std::string &text : report.warnings)
        say("Warning", text);
    return report.warnings.empty() ? report.found : -1;
}

} // namespace das
