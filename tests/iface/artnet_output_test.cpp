// The Art-Net output against a loopback receiver: every ArtDmx field, the sequence cycle, and
// sending on while nobody listens.
#include "backend.h"
#include "packet_checks.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

std::unique_ptr<das::Backend> openArtNetTo(uint16_t port, int portAddress)
{
    das::OutputSpec spec;
    spec.kind = das::OutputKind::ArtNet;
    spec.host = "127.0.0.1";
    spec.port = port;
    spec.universe = portAddress;
    std::string why;
    auto output = das::openArtNet(spec, why);
    EXPECT_TRUE(output) << why;
    return output;
}

class ArtNetPortAddress : public ::testing::TestWithParam<std::tuple<int, std::array<uint8_t, 2>>>
{
};

TEST_P(ArtNetPortAddress, PacketCarriesHeaderAddressAndFrame)
{
    const auto [portAddress, subUniNet] = GetParam();
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.ok());
    auto output = openArtNetTo(receiver.port(), portAddress);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame(0);
    ASSERT_GE(output->send(levels), 0);
    auto packet = receiver.receive();
    ASSERT_TRUE(packet);
    EXPECT_TRUE(isArtDmx(*packet, subUniNet, 1, levels));
}

INSTANTIATE_TEST_SUITE_P(Edges, ArtNetPortAddress,
    ::testing::Values(std::make_tuple(0, std::array<uint8_t, 2> { 0x00, 0x00 }),
        std::make_tuple(0x1234, std::array<uint8_t, 2> { 0x34, 0x12 }),
        std::make_tuple(255, std::array<uint8_t, 2> { 0xff, 0x00 }),
        std::make_tuple(256, std::array<uint8_t, 2> { 0x00, 0x01 }),
        std::make_tuple(32767, std::array<uint8_t, 2> { 0xff, 0x7f })));

TEST(ArtNetOutput, EveryFrameGoesOutWithSequenceOneTo255ThenOne)
{
    UdpReceiver receiver;
    auto output = openArtNetTo(receiver.port(), 0);
    ASSERT_TRUE(output);
    // Lock-step send and receive, so no datagram is lost to a full receive buffer. The levels
    // change every tenth frame only: an unchanged frame must go out again all the same.
    for (int i = 0; i < 300; ++i) {
        const Levels levels = patternFrame(static_cast<uint8_t>(i / 10));
        ASSERT_GE(output->send(levels), 0) << "frame " << i;
        auto packet = receiver.receive();
        ASSERT_TRUE(packet) << "frame " << i;
        const auto expected = static_cast<uint8_t>(i % 255 + 1);
        ASSERT_TRUE(isArtDmx(*packet, { 0, 0 }, expected, levels)) << "frame " << i;
    }
}

TEST(ArtNetOutput, KeepsSendingWhenNobodyListens)
{
    auto output = openArtNetTo(unusedLoopbackPort(), 0);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame(1);
    // Each datagram draws an ICMP port-unreachable; none of them may fail a later send.
    for (int i = 0; i < 200; ++i)
        ASSERT_GE(output->send(levels), 0) << "frame " << i;
}

} // namespace
