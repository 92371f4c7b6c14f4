// The sACN (E1.31) output: one data packet per command 4 to the universe's multicast group or a
// unicast receiver, and the three stream-terminated packets on close.
#include "backend.h"
#include "backends/udp_output.h"
#include "encode/sacn.h"

#include <algorithm>
#include <random>
#include <sys/random.h>

namespace das {

namespace {

constexpr std::string_view kSourceName = "Brivane";
constexpr int kTerminationPackets = 3;

// A fresh random CID for each open: receivers then see each open as a new source, which is
// right since the old stream ended with its terminated packets.
Cid randomCid()
{
    Cid bytes {};
    if (getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK)
        != static_cast<ssize_t>(bytes.size())) {
        // Only right after boot is the kernel pool not ready; uniqueness is all a CID needs.
        std::random_device device;
        for (auto &byte : bytes)
            byte = static_cast<uint8_t>(device());
    }
    return makeUuidV4(bytes);
}

class SacnOutput final : public Backend
{
public:
    SacnOutput(uint16_t universe, uint8_t priority)
    {
        m_source.priority = priority;
        m_source.cid = randomCid();
        m_source.name = kSourceName;
        m_source.universe = universe;
    }

    UdpSender &socket() { return m_udp; }

    int send(Frame frame) override
    {
        std::copy(frame.begin(), frame.end(), m_levels.begin());
        encodeSacnData(m_packet, m_source, m_sequence++, 0, m_levels);
        m_streaming = true;
        return m_udp.send(m_packet);
    }

    // Receivers drop the source at once instead of holding its last levels for 2.5 s. The
    // packets repeat the last levels, which receivers ignore, and keep counting the sequence.
    void stop() override
    {
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
    UdpSender m_udp;
    SacnSource m_source;
    uint8_t m_sequence = 0; // wraps 255 -> 0 by itself, as receivers expect
    bool m_streaming = false;
    std::array<uint8_t, kFrameSize> m_levels {};
    std::array<uint8_t, kSacnPacketSize> m_packet {};
};

} // namespace

std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why)
{
    if (config.priority < 0 || config.priority > kSacnMaxPriority) {
        why = "priority out of range 0-200";
        return nullptr;
    }
    NetTarget to;
    if (!resolveNetTarget(config, to, why))
        return nullptr;
    auto output = std::make_unique<SacnOutput>(to.universe, static_cast<uint8_t>(config.priority));
    const auto mode = isMulticast(to.host) ? UdpSender::Mode::Multicast : UdpSender::Mode::Unicast;
    if (!output->socket().open(to.host, to.port, mode, to.path, "sACN", why))
        return nullptr;
    if (to.path.choice == NetPath::Choice::OnlyInterface)
        why = "sACN leaves " + describePath(to.path);
    return output;
}

} // namespace das
