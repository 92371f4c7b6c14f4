// The network scan: one ArtPoll out, replies and sACN packets in, for a bounded time, on sockets
// that live only as long as the scan.
#include "net/net_scan.h"

#include "encode/artnet.h"
#include "net/scan_report.h"
#include "net/udp_port_holder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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

// Sends the ArtPoll from port 6454, where nodes answer whatever port the poll came from, so that
// the replies are heard there only. `poll` is closed, with a warning, where it cannot.
void sendArtPoll(
    Socket &poll, const NetTarget &target, const ScanFindings &found, ScanReport &report)
{
    if (std::string held = listen(poll, kArtNetPort, target.path); !held.empty()) {
        report.warnings.push_back("no ArtPoll sent: " + held);
        poll.close();
        return;
    }
    std::array<uint8_t, kArtPollSize> packet {};
    encodeArtPoll(packet);
    const int on = 1;
    ::setsockopt(poll.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in to { AF_INET, htons(kArtNetPort), { htonl(found.pollTo) }, {} };
    if (::sendto(poll.fd(), packet.data(), packet.size(), MSG_NOSIGNAL,
            reinterpret_cast<const sockaddr *>(&to), sizeof to)
        < 0) {
        report.warnings.push_back("ArtPoll to " + ipv4Text(found.pollTo) + found.by
            + " not sent: " + std::strerror(errno));
        poll.close();
    }
}

// Listens on port 5568 for an sACN stream's universe, its group joined by the way out; where the
// join fails, for unicast only. `listener` is closed where there is no sACN stream, and where the
// port is held, with a warning.
void listenForSacn(Socket &listener, const NetTarget &target, const ScanStream &stream,
    const ScanFindings &found, ScanReport &report)
{
    if (!stream.sacn) {
        listener.close();
        return;
    }
    if (std::string held = listen(listener, kSacnPort, target.path); !held.empty()) {
        report.warnings.push_back("sACN not heard: " + held);
        listener.close();
        return;
    }
    const uint32_t group = sacnMulticastGroup(found.universe);
    const ip_mreqn join { { htonl(group) }, { htonl(INADDR_ANY) },
        static_cast<int>(target.path.via.index) };
    if (::setsockopt(listener.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
        report.warnings.push_back("cannot join " + ipv4Text(group) + found.by + ": "
            + std::strerror(errno) + "; only unicast sACN is heard");
}

// A datagram on the ArtPoll's socket: a node's reply, merged into what it said before, or for an
// Art-Net stream ArtDmx to its port-address, whose sender is kept once.
void takeArtNet(std::span<const uint8_t> packet, uint32_t sender, bool artnet, ScanFindings &found)
{
    std::vector<uint32_t> &senders = found.senders;
    if (auto node = parseArtPollReply(packet))
        mergeArtNode(found.nodes, std::move(*node));
    else if (artnet && parseArtDmx(packet) == found.universe
        && std::find(senders.begin(), senders.end(), sender) == senders.end())
        senders.push_back(sender);
}

// A datagram on sACN's socket: data for the universe, kept once per CID and address, with the
// highest priority it was live at.
void takeSacn(std::span<const uint8_t> packet, uint32_t sender, ScanFindings &found)
{
    auto heard = parseSacnData(packet);
    if (!heard || heard->universe != found.universe)
        return;
    std::vector<ScanSource> &sources = found.sources;
    auto known = std::find_if(sources.begin(), sources.end(),
        [&](const ScanSource &s) { return s.heard.cid == heard->cid && s.from == sender; });
    if (known == sources.end())
        known = sources.insert(sources.end(), { {}, sender });
    if (!(heard->options & (kSacnOptionPreview | kSacnOptionTerminated)))
        known->live = std::max<int>(known->live, heard->priority);
    known->heard = std::move(*heard);
}

// Hears both sockets, those still open, until `wait` has passed.
void collect(const Socket &poll, const Socket &listener, bool artnet,
    std::chrono::milliseconds wait, ScanFindings &found)
{
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
            if (i == 0)
                takeArtNet(packet, sender, artnet, found);
            else
                takeSacn(packet, sender, found);
        }
    }
}

} // namespace

ScanReport scanNetwork(
    const NetTarget &target, const ScanStream &stream, std::chrono::milliseconds wait)
{
    ScanReport report;
    ScanFindings found;
    const bool artnet = stream.artDmx.has_value();
    found.universe = artnet ? *stream.artDmx : stream.sacn ? stream.sacn->universe : 0;
    found.by = target.path.via.name.empty() ? "" : " by " + target.path.via.name;
    found.pollTo = target.path.broadcast ? target.path.broadcast : target.host;
    Socket poll;
    sendArtPoll(poll, target, found, report);
    Socket listener;
    listenForSacn(listener, target, stream, found, report);
    collect(poll, listener, artnet, wait, found);
    found.polled = poll.fd() >= 0;
    found.listened = listener.fd() >= 0;
    found.here = localAddresses();
    reportArtNet(found, stream, wait, report);
    reportSacn(found, stream, wait, report);
    report.found
        = static_cast<int>(found.nodes.size() + found.senders.size() + found.sources.size());
    return report;
}

} // namespace das
