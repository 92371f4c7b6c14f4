// Clear: every channel of every page to zero, faders down, and the cleared frame out at once.
#include "fake_controls.h"
#include "frame_assert.h"
#include "recording_das.h"

#include <array>
#include <gtest/gtest.h>

namespace {

class Clear : public ::testing::Test
{
protected:
    void SetUp() override { recorder::reset(); }
    FakeConsole c;
};

TEST_F(Clear, ZeroesAllPagesKeepsThePageAndSendsOnce)
{
    c.setLevel(1, 200);
    c.clickPage(5);
    c.setLevel(16, 33);
    c.setLevel(7, 255);
    c.dasResult = 12;
    c.toggle.down = true;
    c.toggle.text = "DAS OK";
    core::clearAll(c.bank, &DasCall);

    EXPECT_TRUE(framesEqual(c.dmxBuf, std::array<uint8_t, 512> {}));
    for (int k = 1; k <= 16; ++k) {
        EXPECT_EQ(c.sliders[k - 1].Position(), 255) << "fader " << k;
        EXPECT_EQ(c.panels[k - 1].text, "0") << "fader " << k;
    }
    EXPECT_EQ(c.pageTop, 64);
    EXPECT_EQ(c.pageLabel.text, "page 5");
    EXPECT_EQ(c.dasResult, 12);
    EXPECT_EQ(c.toggle.text, "DAS OK");
    EXPECT_TRUE(c.toggle.down);

    ASSERT_EQ(recorder::calls().size(), 1u);
    const DasRecord &sent = recorder::calls()[0];
    EXPECT_EQ(sent.command, 4);
    EXPECT_EQ(sent.length, 512);
    EXPECT_TRUE(framesEqual(sent.frame, std::array<uint8_t, 512> {}));

    c.clickPage(1);
    for (int k = 1; k <= 16; ++k)
        EXPECT_EQ(c.sliders[k - 1].Position(), 255) << "fader " << k;
}

TEST_F(Clear, AFailingSendStillClears)
{
    recorder::setResult(4, -4);
    c.setLevel(9, 128);
    core::clearAll(c.bank, &DasCall);
    EXPECT_TRUE(framesEqual(c.dmxBuf, std::array<uint8_t, 512> {}));
    EXPECT_EQ(c.panels[8].text, "0");
}

} // namespace
