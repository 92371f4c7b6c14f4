// The scan's report: what it found, one line each, and the warnings of other consoles.
#include "net/scan_report.h"

#include "encode/wire_text.h"

#include <algorithm>
#include <cstdio>

namespace das {

namespace {

std::string cidText(const Cid &cid)
{
    char text[40];
    std::snprintf(text, sizeof text,
        "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", cid[0], cid[1],
        cid[2], cid[3], cid[4], cid[5], cid[6], cid[7], cid[8], cid[9], cid[10], cid[11], cid[12],
        cid[13], cid[14], cid[15]);
    return text;
}

} // namespace

bool ScanFindings::isHere(uint32_t address) const
{
    return std::find(here.begin(), here.end(), address) != here.end();
}

void reportArtNet(const ScanFindings &found, const ScanStream &stream,
    std::chrono::milliseconds wait, ScanReport &report)
{
    const bool artnet = stream.artDmx.has_value();
    const uint16_t universe = found.universe;
    const std::vector<ArtNode> &nodes = found.nodes;
    if (found.polled || nodes.size()) {
        report.lines.push_back("Art-Net: ArtPoll sent to " + ipv4Text(found.pollTo) + found.by
            + "; " + std::to_string(nodes.size()) + (nodes.size() == 1 ? " node" : " nodes")
            + " answered within " + std::to_string(wait.count() / 1000) + " s");
        for (const ArtNode &node : nodes) {
            std::string outputs;
            for (const uint16_t each : node.outputs)
                outputs += (outputs.empty() ? "" : ", ") + std::to_string(each);
            const bool ours = artnet
                && std::find(node.outputs.begin(), node.outputs.end(), universe)
                    != node.outputs.end();
            report.lines.push_back("  " + ipv4Text(node.address) + " \""
                + printableText(node.shortName) + "\" \"" + printableText(node.longName)
                + "\", outputs port-addresses " + (outputs.empty() ? "none" : outputs)
                + (ours ? "  <- outputs port-address " + std::to_string(universe) : ""));
        }
    }
    if (!artnet || !found.polled)
        return;
    const std::vector<uint32_t> &senders = found.senders;
    const std::string portAddress = "port-address " + std::to_string(universe);
    report.lines.push_back("Art-Net: ArtDmx for " + portAddress + " heard from "
        + std::to_string(senders.size()) + (senders.size() == 1 ? " sender" : " senders"));
    // Art-Net says nothing of who sends: one at this machine's address is taken as this
    // console, whose own broadcast comes back to the scan.
    for (const uint32_t sender : senders) {
        report.lines.push_back("  " + ipv4Text(sender)
            + (found.isHere(sender) ? ", on this machine (this console, or a program beside it)"
                                    : ""));
        if (!found.isHere(sender))
            report.warnings.push_back(ipv4Text(sender) + " sends Art-Net " + portAddress
                + " too: two consoles fight for the same lights");
    }
}

void reportSacn(const ScanFindings &found, const ScanStream &stream, std::chrono::milliseconds wait,
    ScanReport &report)
{
    if (!stream.sacn || !found.listened)
        return;
    const ScanStream::Sacn &our = *stream.sacn;
    const std::vector<ScanSource> &sources = found.sources;
    const auto isConsole = [&](const ScanSource &s) {
        return found.isHere(s.from)
            && (our.ours ? s.heard.cid == our.ours : s.heard.name == our.name);
    };
    const auto others = std::count_if(
        sources.begin(), sources.end(), [&](const ScanSource &s) { return !isConsole(s); });
    report.lines.push_back("sACN: listened " + std::to_string(wait.count() / 1000)
        + " s for universe " + std::to_string(found.universe) + found.by + "; "
        + std::to_string(others) + " other " + (others == 1 ? "source" : "sources") + " sending it"
        + (others < static_cast<long>(sources.size()) ? ", and this machine's console" : ""));
    for (const ScanSource &s : sources) {
        const std::string name = "\"" + printableText(s.heard.name) + "\"";
        const bool console = isConsole(s);
        const bool clone = !console && s.heard.cid == our.ours;
        const bool terminated = s.heard.options & kSacnOptionTerminated;
        const int priority = s.live >= 0 ? s.live : s.heard.priority;
        report.lines.push_back("  " + ipv4Text(s.from) + " CID " + cidText(s.heard.cid) + " " + name
            + ", priority " + std::to_string(priority)
            + (console                     ? our.ours ? ": this machine's console"
                                                      : ": this machine's console (known by name)"
                    : clone                ? ": uses this machine's CID (a cloned system?)"
                    : found.isHere(s.from) ? " (on this machine)"
                                           : "")
            + (terminated        ? ", stream terminated"
                    : s.live < 0 ? ", preview data only (not for the lights)"
                                 : ""));
        if (clone)
            report.warnings.push_back(name + " at " + ipv4Text(s.from)
                + " uses this machine's CID (a cloned system?): receivers cannot tell its "
                  "stream from ours");
        else if (!console && !terminated && s.live >= our.priority)
            report.warnings.push_back(name + " at " + ipv4Text(s.from) + " sends universe "
                + std::to_string(found.universe) + " at priority " + std::to_string(s.live)
                + ", not below ours (" + std::to_string(our.priority)
                + "): two consoles fight for the same lights");
    }
}

} // namespace das
