// The sACN (E1.31) output: one data packet per command 4 to the universe's multicast group or a
// unicast receiver, a Universe Discovery packet every 10 s beside them, and the three
// stream-terminated packets on close.
#include "encode/sacn.h"
#include "net/net_route.h"
#include "net/network_outputs.h"
#include "net/sacn_cid.h"
#include "net/udp_sender.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace das {

namespace {

constexpr int kTerminationPackets = 3;
constexpr std::chrono::seconds kDiscoveryEvery { 10 };

// The next sequence number of `universe` (1-63999), kept from one open to the next for the life
// of the process: a receiver that missed a stream's goodbye still holds its last number, and
// would drop a new stream's first packets, counted from 0 again, as late ones.
uint8_t &nextSequence(uint16_t universe)
{
    static std::array<uint8_t, kSacnMaxUniverse + 1> next {};
    return next[universe];
}

class SacnOutput final : public Backend
{
public:
    SacnOutput(uint16_t universe, uint8_t priority, bool discovery)
        : m_name(sacnSourceName())
        , m_discovery(discovery)
        , m_sequence(nextSequence(universe))
    {
        m_source.priority = priority;
        m_source.cid = sacnCid(kMachineIdFiles, ::getuid());
        m_source.name = m_name;
        m_source.universe = universe;
    }

    UdpSender &socket() { return m_udp; }

    int send(Frame frame) override
    {
        std::copy(frame.begin(), frame.end(), m_levels.begin());
        encodeSacnData(m_packet, m_source, m_sequence++, 0, m_levels);
        m_streaming = true;
        if (m_discovery) {
            const auto now = std::chrono::steady_clock::now();
            if (m_announced == decltype(now) {} || now - m_announced >= kDiscoveryEvery)
                announce(now);
        }
        return m_udp.send(m_packet);
    }

    // Receivers drop the source at once instead of holding its last levels for 2.5 s. The
    // packets repeat the last levels, which receivers ignore, and keep counting the sequence.
    void stop() override
    {
        m_udp.closing();
        if (!m_streaming)
            return;
        for (int i = 0; i < kTerminationPackets; ++i) {
            encodeSacnData(m_packet, m_source, m_sequence++, kSacnOptionTerminated, m_levels);
            if (m_udp.send(m_packet) < 0)
                break;
        }
        m_streaming = false;
    }

private:
    // By the stream's own socket, so that it leaves by the same way; whether it arrives is for
    // the stream's sends to judge.
    void announce(std::chrono::steady_clock::time_point now)
    {
        m_announced = now;
        std::array<uint8_t, kSacnDiscoverySize> discovery;
        encodeSacnDiscovery(discovery, m_source);
        m_udp.sendAside(discovery, kSacnDiscoveryGroup, kSacnPort);
    }

    UdpSender m_udp;
    std::string m_name;
    SacnSource m_source;
    bool m_discovery;
    std::chrono::steady_clock::time_point m_announced {};
    uint8_t &m_sequence; // the universe's; wraps 255 -> 0 by itself, as receivers expect
    bool m_streaming = false;
    std::array<uint8_t, kFrameSize> m_levels {};
    std::array<uint8_t, kSacnPacketSize> m_packet {};
};

} // namespace

std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why)
{
    NetTarget to;
    if (!resolveNetTarget(config.host, config.port, config.interface, to, why))
        return nullptr;
    return openSacn(config, to, why);
}

std::unique_ptr<Backend> openSacn(const OutputConfig &config, const NetTarget &to, std::string &why)
{
    if (const std::string network = broadcastOf(to.host); !network.empty()) {
        why = ipv4Text(to.host) + " is the broadcast address of " + network
            + ": sACN goes to a universe's multicast group (no host) or to one receiver";
        return nullptr;
    }
    // Discovery has a group of its own: where the stream goes by multicast, so does it.
    const bool multicast = isMulticast(to.host);
    auto output = std::make_unique<SacnOutput>(
        static_cast<uint16_t>(config.universe), static_cast<uint8_t>(config.priority), multicast);
    const auto mode = multicast ? UdpSender::Mode::Multicast : UdpSender::Mode::Unicast;
    if (!output->socket().open(to.host, to.port, mode, to.path, "sACN", why))
        return nullptr;
    if (to.path.choice == NetPath::Choice::OnlyInterface)
        why = "sACN leaves " + describePath(to.path);
    return output;
}

} // namespace das
