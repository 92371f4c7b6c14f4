// DasCall through arbitrary sequences of calls (per call a command, a length and a shape byte),
// each result checked against the contract: argument codes first, then "not open" until an open
// succeeds; the caller's buffer is never written. Opens reach Art-Net on the loopback discard
// port, no output, or a malformed value; every call is traced to /dev/null so the trace runs too.
#include "check.h"
#include "dashard.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace {

enum Output { None, ArtNet, Malformed };

int32_t expected(int32_t cmd, int32_t len, bool buffer, Output output, bool &open)
{
    if (cmd < DAS_CMD_OPEN || cmd > DAS_CMD_SEND)
        return DAS_E_COMMAND;
    if (cmd == DAS_CMD_SEND ? len != DAS_FRAME_SIZE || !buffer : len != 0)
        return DAS_E_ARGUMENT;
    if (cmd == DAS_CMD_OPEN) // any open first closes what was open
        return (open = output == ArtNet) ? DAS_OK : output == None ? DAS_E_UNAVAILABLE : DAS_E_CONFIG;
    if (cmd == DAS_CMD_CLOSE)
        return open = false, DAS_OK;
    // Loopback sends to a closed port fail only transiently: they still count as sent.
    return open ? DAS_OK : DAS_E_NOT_OPEN;
}

[[maybe_unused]] const int kTraced = setenv("DASHARD_TRACE", "/dev/null", 1);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static constexpr int32_t kCommands[] = { 1, 2, 3, 4, 4, 0, 5, INT32_MIN };
    static constexpr int32_t kLengths[] = { 0, 512, 511, 513, -1, INT32_MAX, INT32_MIN };
    static const char *const kOutputs[] = { "none", "artnet:127.0.0.1:9", "artnet:127.0.0.1:9:0" };
    bool open = false;
    for (size_t at = 0; at + 3 <= size && at < 3 * 64; at += 3) {
        const int32_t cmd = kCommands[data[at] % 8];
        const int32_t len = data[at + 1] % 8 == 7 ? data[at + 1] * 4 : kLengths[data[at + 1] % 8];
        const uint8_t shape = data[at + 2];
        // Exactly as long as claimed (the caller's side of the contract), so a read past it is
        // caught; lengths too large to hold get none.
        const size_t held = len > 0 ? size_t(len) : 0;
        std::unique_ptr<uint8_t[]> buffer;
        std::vector<uint8_t> before;
        if ((shape & 1) && held <= 4096) {
            buffer.reset(new uint8_t[held]);
            for (size_t i = 0; i < held; ++i)
                before.push_back(buffer[i] = uint8_t(shape + i * 37));
        }
        const auto output = Output((shape >> 1) % 3);
        if (cmd == DAS_CMD_OPEN)
            setenv("DASHARD_OUTPUT", kOutputs[output], 1);
        const int32_t want = expected(cmd, len, buffer != nullptr, output, open);
        FUZZ_CHECK(DasCall(cmd, len, buffer.get()) == want);
        FUZZ_CHECK(std::equal(before.begin(), before.end(), buffer.get()));
    }
    FUZZ_CHECK(DasCall(DAS_CMD_CLOSE, 0, nullptr) == DAS_OK);
    return 0;
}
