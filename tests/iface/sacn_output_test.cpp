// The sACN output over unicast loopback: every data packet field, one CID per open, the sequence
// wrap, and the three stream-terminated packets on close.
#include "backend.h"
#include "encode/sacn.h"
#include "packet_checks.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

std::unique_ptr<das::Backend> openSacnTo(uint16_t port, int universe)
{
    das::OutputSpec spec;
    spec.kind = das::OutputKind::Sacn;
    spec.host = "127.0.0.1";
    spec.port = port;
    spec.universe = universe;
    std::string why;
    auto output = das::openSacn(spec, why);
    EXPECT_TRUE(output) << why;
    return output;
}

TEST(SacnOutput, PacketCarriesHeaderUniverseAndFrame)
{
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.ok());
    auto output = openSacnTo(receiver.port(), 63999);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame(5);
    ASSERT_GE(output->send(levels), 0);
    auto packet = receiver.receive();
    ASSERT_TRUE(packet);
    EXPECT_TRUE(isSacnData(
        *packet, { .sequence = 0, .options = 0, .universe = { 0xf9, 0xff }, .levels = &levels }));
    EXPECT_TRUE(isRandomUuid(sacnCid(*packet)));
}

TEST(SacnOutput, SequenceWrapsAndCidStaysWithinOneOpen)
{
    UdpReceiver receiver;
    auto output = openSacnTo(receiver.port(), 1);
    ASSERT_TRUE(output);
    Cid first {};
    uint8_t previous = 0;
    for (int i = 0; i < 300; ++i) {
        const Levels levels = patternFrame(static_cast<uint8_t>(i));
        ASSERT_GE(output->send(levels), 0) << "frame " << i;
        auto packet = receiver.receive();
        ASSERT_TRUE(packet) << "frame " << i;
        const uint8_t sequence = (*packet)[111];
        if (i == 0)
            first = sacnCid(*packet);
        else
            ASSERT_EQ(sequence, static_cast<uint8_t>(previous + 1)) << "frame " << i;
        ASSERT_EQ(sacnCid(*packet), first) << "frame " << i;
        ASSERT_TRUE(isSacnData(*packet,
            { .sequence = sequence, .options = 0, .universe = { 0, 1 }, .levels = &levels }))
            << "frame " << i;
        previous = sequence;
    }
}

TEST(SacnOutput, CloseSendsExactlyThreeTerminatedPacketsAndThenNothing)
{
    UdpReceiver receiver;
    auto output = openSacnTo(receiver.port(), 7);
    ASSERT_TRUE(output);
    const Levels levels = patternFrame(2);
    for (int i = 0; i < 3; ++i) {
        ASSERT_GE(output->send(levels), 0);
        ASSERT_TRUE(receiver.receive());
    }
    output->stop();
    output.reset();
    for (uint8_t sequence = 3; sequence < 6; ++sequence) {
        auto packet = receiver.receive();
        ASSERT_TRUE(packet) << "terminated packet with sequence " << int(sequence) << " missing";
        EXPECT_TRUE(
            isSacnData(*packet, { .sequence = sequence, .options = 0x40, .universe = { 0, 7 } }));
    }
    EXPECT_FALSE(receiver.receive(300)) << "a packet arrived after the third terminated one";
}

TEST(SacnOutput, CloseBeforeAnyFrameSendsNothing)
{
    UdpReceiver receiver;
    auto output = openSacnTo(receiver.port(), 1);
    ASSERT_TRUE(output);
    output->stop();
    EXPECT_FALSE(receiver.receive(300));
}

TEST(SacnOutput, EachOpenIsANewSource)
{
    UdpReceiver receiver;
    Cid cids[2];
    for (auto &cid : cids) {
        auto output = openSacnTo(receiver.port(), 1);
        ASSERT_TRUE(output);
        ASSERT_GE(output->send(patternFrame(0)), 0);
        auto packet = receiver.receive();
        ASSERT_TRUE(packet);
        cid = sacnCid(*packet);
        EXPECT_TRUE(isRandomUuid(cid));
    }
    EXPECT_NE(cids[0], cids[1]);
}

TEST(SacnOutput, KeepsSendingWhenNobodyListens)
{
    auto output = openSacnTo(unusedLoopbackPort(), 1);
    ASSERT_TRUE(output);
    for (int i = 0; i < 200; ++i)
        ASSERT_GE(output->send(patternFrame(1)), 0) << "frame " << i;
}

class SacnMulticastGroup
    : public ::testing::TestWithParam<std::tuple<uint16_t, std::array<uint8_t, 4>>>
{
};

TEST_P(SacnMulticastGroup, IsTwoThreeNineTwoFiveFiveHighLow)
{
    const auto [universe, dotted] = GetParam();
    const uint32_t group = das::sacnMulticastGroup(universe);
    const std::array<uint8_t, 4> bytes { uint8_t(group >> 24), uint8_t(group >> 16),
        uint8_t(group >> 8), uint8_t(group) };
    EXPECT_EQ(bytes, dotted);
}

INSTANTIATE_TEST_SUITE_P(Edges, SacnMulticastGroup,
    ::testing::Values(std::make_tuple(1, std::array<uint8_t, 4> { 239, 255, 0, 1 }),
        std::make_tuple(256, std::array<uint8_t, 4> { 239, 255, 1, 0 }),
        std::make_tuple(63999, std::array<uint8_t, 4> { 239, 255, 249, 255 })));

} // namespace
