// The usbpro output against a pty that plays the widget: the bytes it sends, the open-time
// handshake, and a widget that stops reading.
#include "backend.h"
#include "dashard.h"
#include "frame_assert.h"
#include "pty_peer.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Levels = std::array<uint8_t, das::kFrameSize>;
using Clock = std::chrono::steady_clock;

// Levels a line discipline or a framing mistake would alter: LF, CR and both delimiters.
Levels trickyLevels(uint8_t seed)
{
    Levels levels;
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = std::array<uint8_t, 5> { 0x0A, 0x0D, 0x7E, 0xE7, uint8_t(seed + i) }[i % 5];
    return levels;
}

std::unique_ptr<das::Backend> openOn(const PtyPeer &peer, std::string &why)
{
    das::OutputSpec spec;
    spec.kind = das::OutputKind::UsbPro;
    spec.device = peer.path();
    return das::openUsbPro(spec, why);
}

bool hasDmx(const PtyPeer::Received &got, const Levels &levels)
{
    return std::any_of(got.messages.begin(), got.messages.end(), [&](const auto &m) {
        return m.label == 6 && m.payload.size() == 513 && framesEqual(&m.payload[1], levels);
    });
}

// Nothing but whole messages on the line: a torn message or an added CR leaves stray bytes.
size_t strayBytes(const PtyPeer::Received &got)
{
    size_t framed = 0;
    for (const auto &message : got.messages)
        framed += message.payload.size() + 5;
    return got.bytes.size() - framed;
}

TEST(UsbProOutput, SerialRequestThenOutputOnlyMessages)
{
    PtyPeer peer;
    std::string why;
    auto output = openOn(peer, why);
    ASSERT_TRUE(output) << why;
    const Levels levels = trickyLevels(1);
    EXPECT_EQ(output->start(), DAS_OK);
    EXPECT_EQ(output->send(levels), DAS_OK);
    ASSERT_TRUE(peer.waitFor([&](const auto &got) { return hasDmx(got, levels); }));

    const auto got = peer.received();
    const std::vector<uint8_t> serialRequest { 0x7E, 0x0A, 0x00, 0x00, 0xE7 };
    EXPECT_TRUE(std::equal(serialRequest.begin(), serialRequest.end(), got.bytes.begin()));
    // Start, label 6, length 513 (LSB, MSB), START code 0, the levels untouched, end.
    const std::vector<uint8_t> head { 0x7E, 0x06, 0x01, 0x02, 0x00 };
    const auto dmx = std::search(got.bytes.begin(), got.bytes.end(), head.begin(), head.end());
    ASSERT_GE(got.bytes.end() - dmx, 518);
    EXPECT_TRUE(framesEqual(&dmx[5], levels));
    EXPECT_EQ(dmx[517], 0xE7);
    EXPECT_EQ(strayBytes(got), 0u);
}

class UsbProOpen : public testing::TestWithParam<std::tuple<bool, bool>>
{
};

TEST_P(UsbProOpen, OnlyWhenTheWidgetAnswers)
{
    const auto [serial, parameters] = GetParam();
    PtyPeer peer(serial, parameters);
    std::string why;
    const auto begin = Clock::now();
    EXPECT_EQ(openOn(peer, why) != nullptr, serial || parameters) << why;
    EXPECT_LT(Clock::now() - begin, 1s);
}

INSTANTIATE_TEST_SUITE_P(Answers, UsbProOpen,
    testing::Values(std::tuple(true, false), std::tuple(false, true), std::tuple(false, false)));

TEST(UsbProOutput, WidgetThatStopsReadingNeitherBlocksNorTearsMessages)
{
    PtyPeer peer;
    std::string why;
    auto output = openOn(peer, why);
    ASSERT_TRUE(output) << why;
    peer.setDraining(false);
    // More than the pty holds: writes come up short, then find no room at all.
    for (int i = 0; i < 40; ++i) {
        const auto begin = Clock::now();
        EXPECT_EQ(output->send(trickyLevels(uint8_t(i))), DAS_OK);
        EXPECT_LT(Clock::now() - begin, 250ms) << "send " << i << " blocked";
    }
    peer.setDraining(true);
    const Levels last = trickyLevels(200);
    bool arrived = false;
    for (int i = 0; i < 50 && !arrived; ++i) {
        EXPECT_EQ(output->send(last), DAS_OK);
        arrived = peer.waitFor([&](const auto &got) { return hasDmx(got, last); }, 100ms);
    }
    ASSERT_TRUE(arrived);
    EXPECT_EQ(strayBytes(peer.received()), 0u);

    // Stalled for good: sends fail once the widget has taken nothing for a long while.
    peer.setDraining(false);
    int result = DAS_OK;
    for (const auto end = Clock::now() + 10s; result == DAS_OK && Clock::now() < end;)
        result = output->send(last);
    EXPECT_EQ(result, DAS_E_IO);
}

} // namespace
