// The OLA output module (libdashard-ola.so), the only code that links libola: the ola output
// hands each frame to the OLA daemon (olad) on this machine through libola's streaming client,
// which talks to olad's RPC port on 127.0.0.1; the check asks olad for its universes.
#include "dashard.h"
#include "ola/ola_module.h"

#include <algorithm>
#include <ola/Callback.h>
#include <ola/Constants.h>
#include <ola/DmxBuffer.h>
#include <ola/client/OlaClient.h>
#include <ola/client/StreamingClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/TCPSocket.h>
#include <optional>

namespace das {

namespace {

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

// The universe and port as the ola kind resolved them: universe in olad's unsigned 32 bits.
struct Target
{
    unsigned universe;
    uint16_t port;
};

Target target(const OutputConfig &config)
{
    return Target { static_cast<unsigned>(config.universe), config.port };
}

std::string address(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

std::unique_ptr<Backend> openOlaOutput(const OutputConfig &config, std::string &why)
{
    const auto to = target(config);
    auto output = std::make_unique<OlaOutput>(to.universe, to.port);
    if (!output->connect()) {
        why = "olad is not running on " + address(to.port);
        return nullptr;
    }
    return output;
}

// One request for olad's universe list on a connection of its own. libola's client wrapper
// would do the same but always dials port 9010.
class UniverseQuery
{
public:
    static constexpr unsigned kWaitMs = 1000;

    explicit UniverseQuery(uint16_t port)
        : m_socket(ola::network::TCPSocket::Connect(
            ola::network::IPV4SocketAddress(ola::network::IPV4Address::Loopback(), port)))
    {
    }

    ~UniverseQuery()
    {
        if (!m_client)
            return;
        m_loop.RemoveReadDescriptor(m_socket.get());
        m_client->Stop();
    }

    bool connected() const { return m_socket != nullptr; }

    // Runs the request until olad answers or kWaitMs pass. False when no answer came; otherwise
    // `error` is olad's refusal, empty on success. A daemon that closes the connection is left
    // to the timeout: libola never frees a close handler whose connection is closed by us.
    bool run()
    {
        m_client = std::make_unique<ola::client::OlaClient>(m_socket.get());
        m_loop.AddReadDescriptor(m_socket.get());
        if (!m_client->Setup())
            return false;
        m_client->FetchUniverseList(ola::NewSingleCallback(this, &UniverseQuery::answered));
        m_loop.RegisterSingleTimeout(
            kWaitMs, ola::NewSingleCallback(&m_loop, &ola::io::SelectServer::Terminate));
        m_loop.Run();
        return m_answered;
    }

    std::string error;
    std::vector<ola::client::OlaUniverse> universes;

private:
    void answered(
        const ola::client::Result &result, const std::vector<ola::client::OlaUniverse> &list)
    {
        m_answered = true;
        error = result.Error();
        universes = list;
        m_loop.Terminate();
    }

    ola::io::SelectServer m_loop;
    std::unique_ptr<ola::network::TCPSocket> m_socket;
    std::unique_ptr<ola::client::OlaClient> m_client;
    bool m_answered = false;
};

bool checkOlaDaemon(const OutputConfig &config, std::string &report, std::string &why)
{
    const auto to = target(config);
    const std::string at = address(to.port);
    UniverseQuery query(to.port);
    if (!query.connected()) {
        report = "no olad answers on " + at;
        why = "olad is not running on " + at;
        return false;
    }
    if (!query.run()) {
        report = "olad on " + at + " took the connection but did not answer within 1 s";
        why = "olad on " + at + " does not answer";
        return false;
    }
    if (!query.error.empty()) {
        report = "olad on " + at + " refused the universe list: " + query.error;
        why = report;
        return false;
    }
    const std::string universe = "universe " + std::to_string(to.universe);
    const auto found = std::find_if(query.universes.begin(), query.universes.end(),
        [&](const ola::client::OlaUniverse &u) { return u.Id() == to.universe; });
    if (found == query.universes.end()) {
        report = "olad answers on " + at + " but has no " + universe + ": patch a port to it";
        why = "olad has no " + universe + ": patch a port to it";
        return false;
    }
    report = "olad answers on " + at + "; " + universe + " exists (name \"" + found->Name() + "\")";
    return true;
}

} // namespace

} // namespace das

// The module's one exported symbol; everything else stays inside it.
extern "C" __attribute__((visibility("default"))) const das::OlaModule *DASHARD_OLA_ENTRY()
{
    static const das::OlaModule module { das::openOlaOutput, das::checkOlaDaemon };
    return &module;
}
