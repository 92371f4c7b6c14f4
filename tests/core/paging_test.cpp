// Pages: every channel reachable, levels kept while other pages are shown.
#include "fake_controls.h"
#include "frame_assert.h"
#include "recording_das.h"

#include <array>
#include <gtest/gtest.h>
#include <random>

namespace {

TEST(Paging, LevelsSurviveRandomSwitchesAmongAllPages)
{
    recorder::reset();
    FakeConsole c;
    std::array<uint8_t, 512> model {};
    int page = 1;
    std::mt19937 rng(99);
    for (int step = 0; step < 20000; ++step) {
        if (rng() % 3 == 0) {
            page = 1 + int(rng() % 32);
            c.clickPage(page);
            ASSERT_EQ(c.pageLabel.text, c.pageButtons[page - 1].text);
        } else {
            const int k = 1 + int(rng() % 16);
            const int level = int(rng() % 256);
            c.setLevel(k, level);
            model[std::size_t(16 * (page - 1) + k - 1)] = uint8_t(level);
        }
        ASSERT_EQ(c.pageTop, 16 * (page - 1));
        ASSERT_TRUE(framesEqual(c.dmxBuf, model)) << "after step " << step;
        for (int k = 1; k <= 16; ++k) {
            const int level = model[std::size_t(c.pageTop + k - 1)];
            ASSERT_EQ(255 - c.sliders[k - 1].Position(), level) << "fader " << k;
            ASSERT_EQ(c.panels[k - 1].text, std::to_string(level)) << "fader " << k;
        }
    }
    // A page switch sends nothing; only the timer and Clear do.
    EXPECT_TRUE(recorder::calls().empty());
}

TEST(Paging, ReturningToAPageRestoresItsFaders)
{
    FakeConsole c;
    c.sliders[0].SetPosition(55);
    c.clickPage(2);
    EXPECT_EQ(c.sliders[0].Position(), 255);
    EXPECT_EQ(c.panels[0].text, "0");
    EXPECT_EQ(c.dmxBuf[0], 200);
    EXPECT_EQ(c.dmxBuf[16], 0);
    c.clickPage(1);
    EXPECT_EQ(c.sliders[0].Position(), 55);
    EXPECT_EQ(c.panels[0].text, "200");
    EXPECT_EQ(c.dmxBuf[0], 200);
    EXPECT_EQ(c.dmxBuf[16], 0);
}

TEST(Paging, ClickingTheShownPageChangesNothingButRelabels)
{
    FakeConsole c;
    c.clickPage(5);
    c.setLevel(4, 90);
    const auto before = std::to_array(c.dmxBuf);
    const int changes = c.changesSoFar();
    const int labelWrites = c.pageLabel.writes;
    c.clickPage(5);
    EXPECT_EQ(c.changesSoFar(), changes);
    EXPECT_EQ(c.pageLabel.writes, labelWrites + 1);
    EXPECT_TRUE(framesEqual(c.dmxBuf, before));
}

TEST(Paging, LabelIsTheButtonsCaptionAtTheMomentOfTheClick)
{
    FakeConsole c;
    c.pageButtons[3].text = "049-64";
    c.clickPage(4);
    EXPECT_EQ(c.pageLabel.text, "049-64");
    EXPECT_EQ(c.pageTop, 48);
}

} // namespace
