// The fader bank: levels, panels and frame agree after every kind of event.
#include "fake_controls.h"
#include "frame_assert.h"

#include <array>
#include <gtest/gtest.h>
#include <random>

namespace {

// Panel k shows 255 - Position of fader k, and that is the frame entry under fader k.
::testing::AssertionResult bankAgrees(const FakeConsole &c)
{
    for (int k = 1; k <= core::kFaders; ++k) {
        const int level = 255 - c.sliders[k - 1].Position();
        const int stored = c.dmxBuf[c.pageTop + k - 1];
        if (c.panels[k - 1].text != std::to_string(level) || stored != level)
            return ::testing::AssertionFailure()
                << "fader " << k << ": level " << level << ", panel \"" << c.panels[k - 1].text
                << "\", frame " << stored;
    }
    return ::testing::AssertionSuccess();
}

TEST(FaderBank, CreationStartsAtPageOneWithEveryChannelAtZero)
{
    FakeConsole c;
    for (auto &level : c.dmxBuf)
        level = 0xAA;
    c.pageTop = 496;
    c.dasResult = 7;
    core::formCreate(c.dmxBuf, c.pageTop, c.dasResult);
    EXPECT_EQ(c.pageTop, 0);
    EXPECT_EQ(c.dasResult, -1);
    EXPECT_TRUE(framesEqual(c.dmxBuf, std::array<uint8_t, 512> {}));
    EXPECT_TRUE(bankAgrees(c));
}

TEST(FaderBank, InvariantHoldsAfterRandomMovesAndTransfers)
{
    FakeConsole c;
    std::mt19937 rng(1234);
    std::array<uint8_t, 512> model {};
    for (int step = 0; step < 5000; ++step) {
        const int k = 1 + int(rng() % 16);
        switch (rng() % 4) {
        case 0: // a drag or a key step: any new position
        case 1: {
            const int level = int(rng() % 256);
            c.setLevel(k, level);
            model[c.pageTop + k - 1] = uint8_t(level);
            break;
        }
        case 2:
            core::fadersIntoFrame(c.bank);
            break;
        case 3: // levels arriving from the frame, as on a page switch
            c.dmxBuf[c.pageTop + k - 1] = uint8_t(rng() % 256);
            model[c.pageTop + k - 1] = c.dmxBuf[c.pageTop + k - 1];
            core::frameIntoFaders(c.bank);
            break;
        }
        ASSERT_TRUE(bankAgrees(c)) << "after step " << step;
        ASSERT_TRUE(framesEqual(c.dmxBuf, model)) << "after step " << step;
    }
}

TEST(FaderBank, TransferOutAndBackOnTheSamePageRunsNoHandler)
{
    FakeConsole c;
    c.setLevel(1, 200);
    c.setLevel(16, 1);
    const auto before = std::to_array(c.dmxBuf);
    const int changes = c.changesSoFar();
    const int writes = c.panels[0].writes;
    core::fadersIntoFrame(c.bank);
    core::frameIntoFaders(c.bank);
    EXPECT_EQ(c.changesSoFar(), changes);
    EXPECT_EQ(c.panels[0].writes, writes);
    EXPECT_TRUE(framesEqual(c.dmxBuf, before));
}

TEST(FaderBank, PercentFaderIsShownAndStoredButTouchesNoChannel)
{
    FakeConsole c;
    FakeSlider percent(100);
    FakePanel panel;
    int32_t percentValue = -5;
    const auto before = std::to_array(c.dmxBuf);
    percent.onChange = [&] { core::percentChanged(percent, panel, percentValue); };
    percent.SetPosition(0);
    EXPECT_EQ(panel.text, "100");
    EXPECT_EQ(percentValue, 100);
    percent.SetPosition(63);
    EXPECT_EQ(panel.text, "37");
    EXPECT_EQ(percentValue, 37);
    EXPECT_TRUE(framesEqual(c.dmxBuf, before));
}

// Fader 1 and 16 on the first and the last page.
class FaderEdge : public ::testing::TestWithParam<std::tuple<int, int>>
{
};

TEST_P(FaderEdge, FaderEditsItsOwnChannelOnlyFromTopToBottom)
{
    const auto [k, page] = GetParam();
    FakeConsole c;
    c.pageTop = 16 * (page - 1);
    const int index = c.pageTop + k - 1;
    c.sliders[k - 1].SetPosition(0);
    EXPECT_EQ(c.panels[k - 1].text, "255");
    EXPECT_EQ(c.faderShown[k - 1], 255);
    std::array<uint8_t, 512> expected {};
    expected[std::size_t(index)] = 255;
    EXPECT_TRUE(framesEqual(c.dmxBuf, expected));
    c.sliders[k - 1].SetPosition(255);
    EXPECT_EQ(c.panels[k - 1].text, "0");
    EXPECT_TRUE(framesEqual(c.dmxBuf, std::array<uint8_t, 512> {}));
}

INSTANTIATE_TEST_SUITE_P(FirstAndLast, FaderEdge,
                         ::testing::Combine(::testing::Values(1, 16), ::testing::Values(1, 32)));

} // namespace
