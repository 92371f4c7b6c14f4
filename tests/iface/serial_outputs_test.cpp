// The serial outputs against a pty that plays the device: the USB Pro handshake, messages and reply
// parser, the Open DMX line, packets and BREAK order, and an unplugged device through DasCall.
#include "backends/opendmx_output.h"
#include "dashard.h"
#include "encode/usbpro.h"

#include <algorithm>
#include <asm/termbits.h>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// The device: the output opens `path`; the test reads what it writes through `master`.
struct PtyPeer
{
    PtyPeer()
    {
        if (grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path = ptsname(master);
        device = open(path.c_str(), O_RDWR | O_NOCTTY);
    }
    ~PtyPeer()
    {
        close(master);
        close(device);
    }
    // Reads what the output writes until `done` holds for all of it, for up to 500 polls of 10 ms.
    bool waitFor(const std::function<bool(const Bytes &)> &done)
    {
        uint8_t chunk[4096];
        pollfd entry { master, POLLIN, 0 };
        for (int i = 0; i < 500 && !done(bytes); ++i) {
            const ssize_t got = poll(&entry, 1, 10) > 0 ? read(master, chunk, sizeof chunk) : 0;
            bytes.insert(bytes.end(), chunk, chunk + std::max<ssize_t>(got, 0));
        }
        return done(bytes);
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY), device = -1; // device: the end the output opens
    std::string path;
    Bytes bytes;
};

// Runs `openOutput` while playing a widget: if the output's first bytes are a serial-number request
// (7E 0A 00 00 E7) they get a serial number back (label 10, 4 bytes); anything else gets nothing.
template <class Open> auto answering(PtyPeer &peer, Open openOutput)
{
    auto opened = std::async(std::launch::async, openOutput);
    constexpr uint8_t kReply[] { 0x7E, 0x0A, 0x04, 0x00, 0x78, 0x56, 0x34, 0x12, 0xE7 };
    if (peer.waitFor([](const Bytes &got) { return got.size() >= 5; })
        && Bytes(peer.bytes.begin(), peer.bytes.begin() + 5) == Bytes { 0x7E, 0x0A, 0, 0, 0xE7 })
        (void)!write(peer.master, kReply, sizeof kReply);
    return opened.get();
}

// START code 0, then levels with no other 0 (so a packet's start is plain to see) and many bytes
// a tty or a framing mistake would alter: LF, CR and the USB Pro delimiters.
Bytes slots(uint8_t seed)
{
    Bytes bytes { 0x00 };
    for (size_t i = 0; i < das::kFrameSize; ++i)
        bytes.push_back(uint8_t(i % 5 < 4 ? "\n\r\x7E\xE7"[i % 5] : seed + i % 9));
    return bytes;
}

das::Frame levelsOf(const Bytes &slots) { return das::Frame(slots.data() + 1, das::kFrameSize); }

bool contains(const Bytes &got, const Bytes &part)
{
    return std::search(got.begin(), got.end(), part.begin(), part.end()) != got.end();
}

TEST(UsbProOutput, OpensOnAnswerThenSendsDmxMessagesUnaltered)
{
    std::string why;
    PtyPeer silent, peer;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(das::openUsbPro({ das::OutputKind::UsbPro, "", 0, -1, silent.path }, why));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s) << "open waited too long for a widget";

    auto output = answering(peer, [&] {
        return das::openUsbPro({ das::OutputKind::UsbPro, "", 0, -1, peer.path }, why);
    });
    ASSERT_TRUE(output) << why;
    for (uint8_t seed : { 1, 20 }) {
        // Start, label 6, length 513 (LSB first), START code and levels untouched, end.
        Bytes message = slots(seed);
        message.insert(message.begin(), { 0x7E, 0x06, 0x01, 0x02 });
        message.push_back(0xE7);
        ASSERT_EQ(output->send(levelsOf(slots(seed))), DAS_OK);
        EXPECT_TRUE(peer.waitFor([&](const Bytes &got) { return contains(got, message); }));
    }
}

TEST(UsbProParser, FindsTheReplyBehindJunk)
{
    // Bytes before a start, a message claiming 601 bytes, and one whose end delimiter is missing.
    for (Bytes stream : { Bytes { 0x01, 0xE7, 0x00, 0x0A }, Bytes { 0x7E, 0x05, 0x59, 0x02, 0x00 },
             Bytes { 0x7E, 0x0A, 0x04, 0x00, 1, 2, 3, 4, 0x00 } }) {
        stream.insert(stream.end(), { 0x7E, 0x0A, 0x04, 0x00, 0x78, 0x56, 0x34, 0x12, 0xE7 });
        // Whole, then a byte at a time: replies arrive in any pieces.
        for (size_t piece : { stream.size(), size_t(1) }) {
            das::UsbProParser parser;
            std::vector<das::UsbProMessage> got;
            for (size_t at = 0; at < stream.size(); at += piece)
                for (auto &message : parser.feed(std::span(stream).subspan(at, piece)))
                    got.push_back(message);
            ASSERT_EQ(got.size(), 1u) << "in pieces of " << piece;
            EXPECT_TRUE(got[0].label == 10 && got[0].payload == (Bytes { 0x78, 0x56, 0x34, 0x12 }));
        }
    }
}

TEST(OpenDmxOutput, LineIs250000Baud8N2AndPacketsCarryTheLatestLevels)
{
    PtyPeer peer;
    std::string why;
    auto output = das::openOpenDmx({ das::OutputKind::OpenDmx, "", 0, -1, peer.path }, why);
    ASSERT_TRUE(output) << why;
    termios2 line {};
    ASSERT_EQ(ioctl(peer.device, TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, 250000u);
    EXPECT_EQ(line.c_cflag & (CSIZE | CSTOPB | PARENB), unsigned(CS8 | CSTOPB));

    // Whole 513-byte packets, START code 0 first, the last one with the levels of the latest send.
    const Bytes first = slots(1), second = slots(20);
    for (const Bytes *latest : { &first, &second }) {
        ASSERT_EQ(output->send(levelsOf(*latest)), DAS_OK);
        ASSERT_TRUE(peer.waitFor([&](const Bytes &got) {
            const size_t end = got.size() / 513 * 513;
            return end > 0 && Bytes(got.begin() + end - 513, got.begin() + end) == *latest;
        }));
    }
}

// Records the writer's steps in `order` ('B' BREAK on, 'M' BREAK off, 'P' pause, 'W' write),
// with the µs or bytes of each in `sizes`.
struct RecordingLine final : das::DmxLine
{
    int note(char step, long size)
    {
        std::lock_guard lock(mutex);
        order += step;
        sizes.push_back(size);
        changed.notify_all();
        return step == 'W' ? int(size) : DAS_OK;
    }
    int setBreak(bool on) override { return note(on ? 'B' : 'M', 0); }
    void pause(std::chrono::nanoseconds d) override { note('P', long(d.count() / 1000)); }
    int write(std::span<const uint8_t> bytes) override { return note('W', long(bytes.size())); }
    int waitWritable(std::chrono::milliseconds) override { return 1; }

    std::mutex mutex;
    std::condition_variable changed;
    std::string order;
    std::vector<long> sizes;
};

TEST(OpenDmxOutput, EachPacketIsBreakThenMarkThenTheSlots)
{
    auto *line = new RecordingLine;
    auto output = das::makeOpenDmxOutput(std::unique_ptr<das::DmxLine>(line));
    ASSERT_EQ(output->send(levelsOf(slots(3))), DAS_OK);
    // Two packets from one send: the adapter repeats nothing, so the writer must.
    std::unique_lock lock(line->mutex);
    ASSERT_TRUE(line->changed.wait_for(lock, 5s, [&] { return line->order.size() >= 10; }));
    EXPECT_EQ(line->order.substr(0, 10), "BPMPWBPMPW");
    EXPECT_GE(line->sizes[1], 92) << "BREAK too short";
    EXPECT_GE(line->sizes[3], 12) << "mark after BREAK too short";
    EXPECT_EQ(line->sizes[4], 513);
}

TEST(SerialOutputs, UnpluggedDeviceFailsASendAndAFreshOneOpens)
{
    const auto dasOpen = [] { return DasCall(DAS_CMD_OPEN, 0, nullptr); };
    // Each kind twice: the second time on a fresh device after the first was unplugged.
    for (const std::string kind : { "usbpro", "usbpro", "opendmx", "opendmx" }) {
        PtyPeer peer;
        setenv("DASHARD_OUTPUT", (kind + ":" + peer.path).c_str(), 1);
        ASSERT_EQ(kind == "usbpro" ? answering(peer, dasOpen) : dasOpen(), DAS_OK) << kind;
        Bytes packet = slots(4);
        ASSERT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, packet.data() + 1), DAS_OK) << kind;
        EXPECT_TRUE(peer.waitFor([&](const Bytes &got) { return contains(got, packet); }));
        close(std::exchange(peer.master, -1)); // the plug is pulled
        EXPECT_LT(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, packet.data() + 1), 0) << kind;
        EXPECT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, packet.data() + 1), DAS_E_NOT_OPEN);
    }
}

} // namespace
