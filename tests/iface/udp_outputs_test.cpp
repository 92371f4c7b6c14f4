// The UDP outputs against loopback receivers: every Art-Net and sACN header byte, sequences, the
// sACN source identity and goodbye, and, inside a private namespace, multicast and broadcast.
#include "backend.h"
#include "dashard.h"
#include "encode/sacn.h"
#include "net_support.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nettest;

namespace {

using Levels = std::array<uint8_t, 512>;

// Varied levels led by 0x00, 0xff, LF and 0x7e, bytes a careless transport mangles.
Levels patternFrame()
{
    Levels levels;
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<uint8_t>(i < 4 ? std::array { 0x00, 0xff, 0x0a, 0x7e }[i] : i * 7);
    return levels;
}

std::unique_ptr<das::Backend> openTo(das::OutputKind kind, uint16_t port, int universe)
{
    std::string why;
    const das::OutputConfig config { kind, "127.0.0.1", port, universe, "" };
    auto output
        = kind == das::OutputKind::ArtNet ? das::openArtNet(config, why) : das::openSacn(config, why);
    EXPECT_TRUE(output) << why;
    return output;
}

TEST(ArtNetOutput, EveryFieldAndSequenceOneTo255ThenOne)
{
    UdpReceiver receiver;
    auto output = openTo(das::OutputKind::ArtNet, receiver.port(), 0x1234);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame();
    Packet want { 'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0x00, 0x0e, 0, 0, 0x34, 0x12,
        0x02, 0x00 };
    want.insert(want.end(), levels.begin(), levels.end());
    // The same levels every time: an unchanged frame goes out all the same.
    for (int i = 0; i < 300; ++i) {
        ASSERT_GE(output->send(levels), 0);
        want[12] = static_cast<uint8_t>(i % 255 + 1);
        ASSERT_EQ(receiver.receive(), want) << "frame " << i;
    }
    // With nobody listening each datagram draws an ICMP port-unreachable, which fails no send.
    output = openTo(das::OutputKind::ArtNet, UdpReceiver().port(), 0);
    for (int i = 0; output && i < 100; ++i)
        ASSERT_GE(output->send(levels), 0) << "frame " << i;
}

// The 126 header bytes of an E1.31 data packet from "Brivane" (source `cid`) at priority 100 for
// universe 63999, with `sequence` and `options`.
Packet sacnHeader(const das::Cid &cid, uint8_t sequence, uint8_t options)
{
    Packet header { 0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0,
        0x72, 0x6e, 0, 0, 0, 0x04 };
    header.insert(header.end(), cid.begin(), cid.end());
    header.insert(header.end(), { 0x72, 0x58, 0, 0, 0, 0x02, 'B', 'r', 'i', 'v', 'a', 'n', 'e' });
    header.resize(108);
    header.insert(header.end(),
        { 100, 0, 0, sequence, options, 0xf9, 0xff, 0x72, 0x0b, 2, 0xa1, 0, 0, 0, 1, 2, 1, 0 });
    return header;
}

TEST(SacnOutput, HeaderSequenceSourceAndGoodbye)
{
    UdpReceiver receiver;
    auto output = openTo(das::OutputKind::Sacn, receiver.port(), 63999);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame();
    das::Cid cid {};
    uint8_t first = 0;
    // 300 frames, then on stop three stream-terminated packets (options 0x40) and nothing more.
    for (int i = 0; i < 303; ++i) {
        if (i < 300)
            ASSERT_GE(output->send(levels), 0);
        else if (i == 300)
            output->stop();
        const auto packet = receiver.receive();
        ASSERT_TRUE(packet && packet->size() == 638) << "packet " << i;
        if (i == 0) {
            std::copy_n(packet->begin() + 22, cid.size(), cid.begin());
            first = (*packet)[111];
            // A random (version 4, RFC 4122 variant) UUID.
            EXPECT_TRUE((cid[6] & 0xf0) == 0x40 && (cid[8] & 0xc0) == 0x80);
        }
        // One CID for the stream, and the sequence counts on across its wrap.
        ASSERT_EQ(Packet(packet->begin(), packet->begin() + 126),
            sacnHeader(cid, static_cast<uint8_t>(first + i), i < 300 ? 0 : 0x40))
            << "packet " << i;
        ASSERT_TRUE(i >= 300 || std::equal(levels.begin(), levels.end(), packet->begin() + 126));
    }
    EXPECT_FALSE(receiver.receive(300)) << "a packet after the third terminated one";

    // Each open is a new source.
    output = openTo(das::OutputKind::Sacn, receiver.port(), 63999);
    ASSERT_TRUE(output && output->send(levels) >= 0);
    const auto packet = receiver.receive();
    ASSERT_TRUE(packet && packet->size() == 638);
    EXPECT_FALSE(std::equal(cid.begin(), cid.end(), packet->begin() + 22));
}

// Sends the pattern frame through DasCall to DASHARD_OUTPUT=`value` in a forked child with its own
// network namespace (lo up, 239.0.0.0/8 routed over it), so nothing leaves the child, and expects
// it at the end of a `size`-byte packet to a receiver there on `port` (and `group`, unless 0).
void expectInPrivateNetwork(const char *value, uint16_t port, uint32_t group, std::size_t size)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0
            || std::system("ip link set lo up && ip route add 239.0.0.0/8 dev lo") != 0)
            _exit(77);
        UdpReceiver receiver(port, INADDR_ANY);
        Levels levels = patternFrame();
        setenv("DASHARD_OUTPUT", value, 1);
        const bool sent = (group == 0 || receiver.joinGroup(group))
            && DasCall(DAS_CMD_OPEN, 0, nullptr) == DAS_OK
            && DasCall(DAS_CMD_SEND, 512, levels.data()) == DAS_OK;
        const auto packet = receiver.receive();
        const bool arrived = sent && packet && packet->size() == size
            && std::equal(levels.begin(), levels.end(), packet->end() - 512);
        // Closing says goodbye where the protocol has a way: sACN's stream-terminated option.
        const bool closed = DasCall(DAS_CMD_CLOSE, 0, nullptr) == DAS_OK;
        const auto last = port == 5568 ? receiver.receive() : packet;
        _exit(arrived && closed && last && (port != 5568 || (*last)[112] == 0x40) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private network namespace here (needs root and ip)";
    EXPECT_EQ(status, 0) << "DASHARD_OUTPUT=" << value << ": the frame did not arrive";
}

TEST(PrivateNetwork, SacnMulticastsToTheUniverseGroupAndArtNetReachesABroadcastAddress)
{
    EXPECT_EQ(das::sacnMulticastGroup(1), 0xefff0001u); // 239.255.0.1
    EXPECT_EQ(das::sacnMulticastGroup(256), 0xefff0100u); // 239.255.1.0
    EXPECT_EQ(das::sacnMulticastGroup(63999), 0xeffff9ffu); // 239.255.249.255
    expectInPrivateNetwork("sacn", 5568, 0xefff0001, 638);
    expectInPrivateNetwork("artnet:127.255.255.255", 6454, 0, 530);
}

} // namespace
