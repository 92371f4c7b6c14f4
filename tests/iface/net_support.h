// Helpers for the network output tests: frames, a loopback UDP receiver, stderr capture, and a
// forked child inside a private network namespace for multicast and broadcast.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nettest {

using Levels = std::array<uint8_t, 512>;
using Packet = std::vector<uint8_t>;

// A frame that differs with `seed` and holds the bytes a careless transport mangles:
// 0x00 and 0xff at channels 1 and 2, LF at 3, the USB Pro delimiters 0x7e and 0xe7 at 4 and 512.
Levels patternFrame(uint8_t seed);

// Equal, or the first differing index with both values.
::testing::AssertionResult bytesEqual(
    std::span<const uint8_t> expected, std::span<const uint8_t> actual);

// A UDP socket bound to `address`:`port` (host order; port 0 picks a free one).
class UdpReceiver
{
public:
    explicit UdpReceiver(uint16_t port = 0, uint32_t address = 0x7f000001);
    UdpReceiver(const UdpReceiver &) = delete;
    UdpReceiver &operator=(const UdpReceiver &) = delete;
    ~UdpReceiver();

    bool ok() const { return m_fd >= 0; }
    uint16_t port() const { return m_port; }
    // Joins an IPv4 multicast group on the loopback interface.
    bool joinGroup(uint32_t group);
    // The next datagram, or nothing after `timeoutMs`.
    std::optional<Packet> receive(int timeoutMs = 3000);

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// A loopback UDP port nobody listens on (bound once, then released).
uint16_t unusedLoopbackPort();

// Sends everything written to fd 2 into a temporary file until text() is called.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    // Restores stderr and returns what was written meanwhile.
    std::string text();

private:
    int m_saved = -1;
    int m_file = -1;
};

std::vector<std::string> splitLines(const std::string &text);

// Runs `body` in a forked child that has its own network namespace with lo up and a route
// 239.0.0.0/8 over lo, so multicast and broadcast never leave it. `body` returns "" on success
// or what went wrong.
struct ChildOutcome
{
    enum { Passed, Failed, Skipped } status;
    std::string message;
};
ChildOutcome runInPrivateNetwork(const std::function<std::string()> &body);

} // namespace nettest

// Fails or skips the current test from a private network child's outcome.
#define EXPECT_CHILD_PASSED(outcome_expr)                                                \
    do {                                                                                 \
        const auto outcome_ = (outcome_expr);                                            \
        if (outcome_.status == ::nettest::ChildOutcome::Skipped)                         \
            GTEST_SKIP() << outcome_.message;                                            \
        EXPECT_EQ(outcome_.status, ::nettest::ChildOutcome::Passed) << outcome_.message; \
    } while (0)
