// The ola output: hands each frame to the OLA daemon (olad) on this machine through libola's
// streaming client, which talks to olad's RPC port on 127.0.0.1.
#include "backend.h"
#include "dashard.h"

#include <ola/Constants.h>
#include <ola/DmxBuffer.h>
#include <ola/client/StreamingClient.h>

namespace das {

namespace {

constexpr int kDefaultUniverse = 1; // when the config leaves the universe unset (-1)
constexpr int kMaxUniverse = 63999;

// Why a stuck daemon cannot hold up send(): the client's socket is non-blocking and each frame is
// one write of about 530 bytes. A daemon that stops reading leaves its frames in the kernel's
// socket buffers (thousands of frames, minutes at 10 Hz); once they are full the write comes up
// short, the client closes the connection and SendDmx returns false, which we report as
// DAS_E_IO. A daemon that has died is noticed by the client's zero-timeout poll of the socket at
// the start of a SendDmx, or by the failing write a send or two later; the client writes with
// MSG_NOSIGNAL, so no SIGPIPE reaches the program.
//
// Opening is a blocking connect() to the loopback port. With nothing listening it is refused at
// once; with olad listening the kernel completes it without waiting for the daemon, so the open
// stays far inside its second even when the daemon itself is hung (short of a daemon that has
// let its whole accept queue fill up with connections it never took).
class OlaOutput final : public Backend
{
public:
    OlaOutput(unsigned universe, uint16_t port)
        : m_universe(universe)
        , m_client(clientOptions(port))
    {
        // Allocates the buffer's 512 slots now, so that send() only copies into them.
        m_buffer.Blackout();
    }

    ~OlaOutput() override { m_client.Stop(); }

    bool connect()
    {
        m_connected = m_client.Setup();
        return m_connected;
    }

    int send(Frame frame) override
    {
        if (!m_connected)
            return DAS_E_IO;
        m_buffer.Set(frame.data(), static_cast<unsigned>(frame.size()));
        if (!m_client.SendDmx(m_universe, m_buffer)) {
            stop();
            return DAS_E_IO;
        }
        return DAS_OK;
    }

    void stop() override
    {
        m_client.Stop();
        m_connected = false;
    }

private:
    static ola::client::StreamingClient::Options clientOptions(uint16_t port)
    {
        ola::client::StreamingClient::Options options;
        // Left on, the client would launch a daemon of its own with every plugin enabled.
        options.auto_start = false;
        options.server_port = port;
        return options;
    }

    unsigned m_universe;
    ola::client::StreamingClient m_client;
    ola::DmxBuffer m_buffer;
    bool m_connected = false;
};

} // namespace

std::unique_ptr<Backend> openOla(const OutputConfig &config, std::string &why)
{
    const int universe = config.universe == -1 ? kDefaultUniverse : config.universe;
    if (universe < 1 || universe > kMaxUniverse) {
        why = "OLA universe " + std::to_string(universe) + " is outside 1-63999";
        return nullptr;
    }
    const uint16_t port = config.port != 0 ? config.port : ola::OLA_DEFAULT_PORT;

    auto output = std::make_unique<OlaOutput>(static_cast<unsigned>(universe), port);
    if (!output->connect()) {
        why = "olad is not running on 127.0.0.1:" + std::to_string(port);
        return nullptr;
    }
    return output;
}

} // namespace das
