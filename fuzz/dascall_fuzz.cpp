// DasCall through arbitrary sequences of commands, lengths and buffers. Each result is checked
// against the contract: argument codes first, then "not open" until an open succeeds, and the
// caller's buffer is never written. Opens reach Art-Net on a loopback port nobody listens on, no
// output, or a malformed value; every call is traced to /dev/null so the trace runs too.
//
// Input, per call: a command byte, a length byte, a shape byte, and any values they ask for.
#include "check.h"
#include "dashard.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

class Input
{
public:
    Input(const uint8_t *data, size_t size)
        : m_at(data)
        , m_end(data + size)
    {
    }
    bool empty() const { return m_at == m_end; }
    uint8_t byte() { return empty() ? 0 : *m_at++; }
    int32_t word()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(byte()) << (8 * i);
        return int32_t(value);
    }

private:
    const uint8_t *m_at;
    const uint8_t *m_end;
};

std::string g_artnet; // "artnet:127.0.0.1:PORT" with a port found free at start

uint16_t unusedLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    FUZZ_CHECK(fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0);
    FUZZ_CHECK(getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0);
    close(fd);
    return ntohs(address.sin_port);
}

int32_t command(Input &in)
{
    static constexpr int32_t kCommands[] = { 1, 2, 3, 4, 4, 0, 5 };
    const uint8_t pick = in.byte() % 8;
    return pick < 7 ? kCommands[pick] : in.word();
}

int32_t length(Input &in)
{
    switch (in.byte() % 8) {
    case 0:
        return 0;
    case 1:
        return 512;
    case 2:
        return 511;
    case 3:
        return 513;
    case 4:
        return -1;
    case 5:
        return in.byte() * 8;
    case 6:
        return INT32_MIN;
    default:
        return in.word();
    }
}

enum class Output { None, ArtNet, ArtNetUniverse, Malformed };

int32_t expected(int32_t cmd, int32_t len, bool buffer, Output output, bool &open)
{
    if (cmd < DAS_CMD_OPEN || cmd > DAS_CMD_SEND)
        return DAS_E_COMMAND;
    if (cmd == DAS_CMD_SEND ? len != DAS_FRAME_SIZE || !buffer : len != 0)
        return DAS_E_ARGUMENT;
    switch (cmd) {
    case DAS_CMD_OPEN:
        // Any open first closes what was open.
        open = output == Output::ArtNet || output == Output::ArtNetUniverse;
        return open ? DAS_OK : output == Output::None ? DAS_E_UNAVAILABLE : DAS_E_CONFIG;
    case DAS_CMD_CLOSE:
        open = false;
        return DAS_OK;
    default:
        // Loopback sends to a closed port fail only transiently: they still count as sent.
        return open ? DAS_OK : DAS_E_NOT_OPEN;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_artnet = "artnet:127.0.0.1:" + std::to_string(unusedLoopbackPort());
    setenv("DASHARD_TRACE", "/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    bool open = false;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const int32_t cmd = command(in);
        const int32_t len = length(in);
        const uint8_t shape = in.byte();
        // Never shorter than the length claimed (the caller's side of the contract), and exactly
        // that long so that any read past it is caught. Lengths too large to hold get none.
        const size_t held = len > 0 ? size_t(len) : 0;
        std::unique_ptr<uint8_t[]> buffer;
        if ((shape & 1) && held <= 4096) {
            buffer.reset(new uint8_t[held]);
            for (size_t i = 0; i < held; ++i)
                buffer[i] = uint8_t(shape + i * 37);
        }
        const std::vector<uint8_t> before(buffer.get(), buffer.get() + (buffer ? held : 0));

        const auto output = Output((shape >> 1) & 3);
        if (cmd == DAS_CMD_OPEN) {
            std::string value = output == Output::None ? "none" : g_artnet;
            if (output == Output::ArtNetUniverse)
                value += "@" + std::to_string(in.word() & 0x7FFF);
            if (output == Output::Malformed)
                value += ":0"; // host:port:port
            setenv("DASHARD_OUTPUT", value.c_str(), 1);
        }
        const int32_t want = expected(cmd, len, buffer != nullptr, output, open);
        FUZZ_CHECK(DasCall(cmd, len, buffer.get()) == want);
        FUZZ_CHECK(std::equal(before.begin(), before.end(), buffer.get()));
    }
    FUZZ_CHECK(DasCall(DAS_CMD_CLOSE, 0, nullptr) == DAS_OK);
    return 0;
}
