// The Art-Net output: one ArtDmx per command 4 to a unicast or directed-broadcast address.
#include "encode/artnet.h"
#include "net/net_route.h"
#include "net/network_outputs.h"
#include "net/udp_sender.h"

namespace das {

namespace {

class ArtNetOutput final : public Backend
{
public:
    explicit ArtNetOutput(uint16_t portAddress)
        : m_portAddress(portAddress)
    {
    }

    UdpSender &socket() { return m_udp; }

    int send(Frame frame) override
    {
        m_sequence = nextArtNetSequence(m_sequence);
        encodeArtDmx(m_packet, m_portAddress, m_sequence, frame);
        return m_udp.send(m_packet);
    }

    void stop() override { m_udp.closing(); }

private:
    UdpSender m_udp;
    uint16_t m_portAddress;
    uint8_t m_sequence = 0; // the first packet carries 1
    std::array<uint8_t, kArtDmxSize> m_packet {};
};

} // namespace

std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why)
{
    NetTarget to;
    if (!resolveNetTarget(config.host, config.port, config.interface, to, why))
        return nullptr;
    return openArtNet(config, to, why);
}

std::unique_ptr<Backend> openArtNet(
    const OutputConfig &config, const NetTarget &to, std::string &why)
{
    auto output = std::make_unique<ArtNetOutput>(static_cast<uint16_t>(config.universe));
    // Broadcast is always allowed: whether HOST is a directed broadcast address depends on the
    // interfaces, and the user who names one means it.
    if (!output->socket().open(
            to.host, to.port, UdpSender::Mode::Broadcast, to.path, "Art-Net", why))
        return nullptr;
    if (to.path.choice == NetPath::Choice::OnlyInterface)
        why = "Art-Net leaves " + describePath(to.path);
    return output;
}

} // namespace das
