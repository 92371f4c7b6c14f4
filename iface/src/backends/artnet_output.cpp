// The Art-Net output: one ArtDmx per command 4 to a unicast or directed-broadcast address.
#include "backend.h"
#include "backends/udp_output.h"
#include "encode/artnet.h"

#include <arpa/inet.h>

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

private:
    UdpSender m_udp;
    uint16_t m_portAddress;
    uint8_t m_sequence = 0; // the first packet carries 1
    std::array<uint8_t, kArtDmxSize> m_packet {};
};

} // namespace

std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why)
{
    const std::string host = config.host.empty() ? "127.0.0.1" : config.host;
    in_addr address {};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        why = "\"" + host + "\" is not a dotted IPv4 address";
        return nullptr;
    }
    const int universe = config.universe < 0 ? 0 : config.universe;
    if (universe > kArtNetMaxPortAddress) {
        why = "port-address out of range 0-32767";
        return nullptr;
    }
    auto output = std::make_unique<ArtNetOutput>(static_cast<uint16_t>(universe));
    // Broadcast is always allowed: whether HOST is a directed broadcast address depends on the
    // interfaces, and the user who names one means it.
    if (!output->socket().open(ntohl(address.s_addr), config.port == 0 ? kArtNetPort : config.port,
            UdpSender::Mode::Broadcast, why))
        return nullptr;
    return output;
}

} // namespace das
