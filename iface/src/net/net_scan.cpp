// The network scan: one ArtPoll out, replies and sACN packets in, for a bounded time, on sockets
// that live only as long as the scan.
#include "net/net_scan.h"

#include "encode/artnet.h"
#include "encode/wire_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace das {

namespace {

class Socket
{
public:
    Socket()
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// A socket listening on `port` of every address, by `path`'s interface when pinned. Without
// SO_REUSEADDR, so that a port another program holds is left to it. Empty on success, else why.
std::string listen(Socket &socket, uint16_t port, const NetPath &path)
{
    if (socket.fd() < 0)
        return std::strerror(errno);
    if (path.pinned()
        && ::setsockopt(socket.fd(), SOL_SOCKET, SO_BINDTODEVICE, path.via.name.c_str(),
               static_cast<socklen_t>(path.via.name.size()))
            != 0)
        return std::strerror(errno);
    const sockaddr_in any { AF_INET, htons(port), { htonl(INADDR_ANY) }, {} };
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0)
        return {};
    if (errno != EADDRINUSE)
        return std::strerror(errno);
    const std::string holder = udpPortHolder(port);
    return "UDP port " + std::to_string(port) + " is held by "
        + (holder.empty() ? "another program" : holder);
}

std::string cidText(const Cid &cid)
{
    char text[40];
    std::snprintf(text, sizeof text,
        "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", cid[0], cid[1],
        cid[2], cid[3], cid[4], cid[5], cid[6], cid[7], cid[8], cid[9], cid[10], cid[11], cid[12],
        cid[13], cid[14], cid[15]);
    return text;
}

// One CID from one address: the same CID from two is a cloned system.
struct Source
{
    SacnHeard heard; // its last packet
    uint32_t from = 0;
    int live = -1; // the highest priority it sent live data at; -1: none, only preview data
};

} // namespace

std::string udpPortHolder(uint16_t port)
{
    // The socket's inode from the kernel's tables (an IPv6 socket on [::] holds the IPv4 port
    // too), then the process with that socket open.
    std::string line, inode;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char *name : { "/proc/net/udp", "/proc/net/udp6" }) {
        std::ifstream table(name);
        std::getline(table, line);
        while (inode.empty() && std::getline(table, line)) {
            char local[64] = {}, remote[64] = {};
            unsigned long node = 0;
            if (std::sscanf(line.c_str(), "%*d: %63s %63s %*x %*x:%*x %*x:%*x %*x %*u %*d %lu",
                    local, remote, &node)
                    == 3
                && std::string(local).ends_with(wanted))
                inode = "socket:[" + std::to_string(node) + "]";
        }
    }
    if (inode.empty())
        return {};
    DIR *processes = ::opendir("/proc");
    std::string holder;
    for (dirent *each; processes && holder.empty() && (each = ::readdir(processes));) {
        const std::string pid = each->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fds = "/proc/" + pid + "/fd";
        DIR *open = ::opendir(fds.c_str());
        for (dirent *fd; open && holder.empty() && (fd = ::readdir(open));) {
            char target[64] = {};
            const std::string link = fds + "/" + fd->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && inode == target) {
                std::string name;
                std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
                holder = name + " (pid " + pid + ")";
            }
        }
        if (open)
            ::closedir(open);
    }
    if (processes)
        ::closedir(processes);
    return holder.empty() ? "another program" : holder;
}

ScanReport scanNetwork(
    const NetTarget &target, const ScanStream &stream, std::chrono::milliseconds wait)
{
    ScanReport report;
    const bool artnet = stream.artDmx.has_value();
    const uint16_t universe = artnet ? *stream.artDmx : stream.sacn ? stream.sacn->universe : 0;
    const std::string by = target.path.via.name.empty() ? "" : " by " + target.path.via.name;

    // Nodes answer to port 6454 whatever port the poll came from: it is heard only there.
    Socket poll;
    const uint32_t pollTo = target.path.broadcast ? target.path.broadcast : target.host;
    if (std::string held = listen(poll, kArtNetPort, target.path); !held.empty()) {
        report.warnings.push_back("no ArtPoll sent: " + held);
        poll.close();
    } else {
        std::array<uint8_t, kArtPollSize> packet {};
        encodeArtPoll(packet);
        const int on = 1;
        ::setsockopt(poll.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        const sockaddr_in to { AF_INET, htons(kArtNetPort), { htonl(pollTo) }, {} };
        if (::sendto(poll.fd(), packet.data(), packet.size(), MSG_NOSIGNAL,
                reinterpret_cast<const sockaddr *>(&to), sizeof to)
            < 0) {
            report.warnings.push_back(
                "ArtPoll to " + ipv4Text(pollTo) + by + " not sent: " + std::strerror(errno));
            poll.close();
        }
    }

    Socket listener;
    if (!stream.sacn) {
        listener.close();
    } else if (std::string held = listen(listener, kSacnPort, target.path); !held.empty()) {
        report.warnings.push_back("sACN not heard: " + held);
        listener.close();
    } else {
        const uint32_t group = sacnMulticastGroup(universe);
        const ip_mreqn join { { htonl(group) }, { htonl(INADDR_ANY) },
            static_cast<int>(target.path.via.index) };
        if (::setsockopt(listener.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            report.warnings.push_back("cannot join " + ipv4Text(group) + by + ": "
                + std::strerror(errno) + "; only unicast sACN is heard");
    }

    std::vector<ArtNode> nodes;
    std::vector<uint32_t> senders; // of ArtDmx to an Art-Net config's port-address
    std::vector<Source> sources;
    const auto end = std::chrono::steady_clock::now() + wait;
    for (auto now = std::chrono::steady_clock::now();
         now < end && (poll.fd() >= 0 || listener.fd() >= 0);
         now = std::chrono::steady_clock::now()) {
        pollfd fds[2] = { { poll.fd(), POLLIN, 0 }, { listener.fd(), POLLIN, 0 } };
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        if (::poll(fds, 2, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            std::array<uint8_t, 1500> buffer;
            sockaddr_in from {};
            socklen_t size = sizeof from;
            const ssize_t got = ::recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                reinterpret_cast<sockaddr *>(&from), &size);
            if (got <= 0)
                continue;
            const std::span<const uint8_t> packet(buffer.data(), static_cast<std::size_t>(got));
            const uint32_t sender = ntohl(from.sin_addr.s_addr);
            if (i == 0) {
                if (auto node = parseArtPollReply(packet))
                    mergeArtNode(nodes, std::move(*node));
                else if (artnet && parseArtDmx(packet) == universe
                    && std::find(senders.begin(), senders.end(), sender) == senders.end())
                    senders.push_back(sender);
            } else if (auto heard = parseSacnData(packet); heard && heard->universe == universe) {
                auto known = std::find_if(sources.begin(), sources.end(),
                    [&](const Source &s) { return s.heard.cid == heard->cid && s.from == sender; });
                if (known == sources.end())
                    known = sources.insert(sources.end(), { {}, sender });
                if (!(heard->options & (kSacnOptionPreview | kSacnOptionTerminated)))
                    known->live = std::max<int>(known->live, heard->priority);
                known->heard = std::move(*heard);
            }
        }
    }

    const std::vector<uint32_t> here = localAddresses();
    const auto isHere = [&](uint32_t address) {
        return std::find(here.begin(), here.end(), address) != here.end();
    };
    if (poll.fd() >= 0 || nodes.size()) {
        report.lines.push_back("Art-Net: ArtPoll sent to " + ipv4Text(pollTo) + by + "; "
            + std::to_string(nodes.size()) + (nodes.size() == 1 ? " node" : " nodes")
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
    if (artnet && poll.fd() >= 0) {
        const std::string portAddress = "port-address " + std::to_string(universe);
        report.lines.push_back("Art-Net: ArtDmx for " + portAddress + " heard from "
            + std::to_string(senders.size()) + (senders.size() == 1 ? " sender" : " senders"));
        // Art-Net says nothing of who sends: one at this machine's address is taken as this
        // console, whose own broadcast comes back to the scan.
        for (const uint32_t sender : senders) {
            report.lines.push_back("  " + ipv4Text(sender)
                + (isHere(sender) ? ", on this machine (this console, or a program beside it)"
                                  : ""));
            if (!isHere(sender))
                report.warnings.push_back(ipv4Text(sender) + " sends Art-Net " + portAddress
                    + " too: two consoles fight for the same lights");
        }
    }
    if (stream.sacn && listener.fd() >= 0) {
        const ScanStream::Sacn &our = *stream.sacn;
        const auto isConsole = [&](const Source &s) {
            return isHere(s.from)
                && (our.ours ? s.heard.cid == our.ours : s.heard.name == our.name);
        };
        const auto others = std::count_if(
            sources.begin(), sources.end(), [&](const Source &s) { return !isConsole(s); });
        report.lines.push_back("sACN: listened " + std::to_string(wait.count() / 1000)
            + " s for universe " + std::to_string(universe) + by + "; " + std::to_string(others)
            + " other " + (others == 1 ? "source" : "sources") + " sending it"
            + (others < static_cast<long>(sources.size()) ? ", and this machine's console" : ""));
        for (const Source &s : sources) {
            const std::string name = "\"" + printableText(s.heard.name) + "\"";
            const bool console = isConsole(s);
            const bool clone = !console && s.heard.cid == our.ours;
            const bool terminated = s.heard.options & kSacnOptionTerminated;
            const int priority = s.live >= 0 ? s.live : s.heard.priority;
            report.lines.push_back("  " + ipv4Text(s.from) + " CID " + cidText(s.heard.cid) + " "
                + name + ", priority " + std::to_string(priority)
                + (console               ? our.ours ? ": this machine's console"
                                                    : ": this machine's console (known by name)"
                        : clone          ? ": uses this machine's CID (a cloned system?)"
                        : isHere(s.from) ? " (on this machine)"
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
                    + std::to_string(universe) + " at priority " + std::to_string(s.live)
                    + ", not below ours (" + std::to_string(our.priority)
                    + "): two consoles fight for the same lights");
        }
    }
    report.found = static_cast<int>(nodes.size() + senders.size() + sources.size());
    return report;
}

} // namespace das
