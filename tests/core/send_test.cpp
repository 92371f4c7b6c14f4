// The periodic send: the live frame every tick, and a lost interface shown as lost.
#include "fake_controls.h"
#include "frame_assert.h"
#include "recording_das.h"

#include <gtest/gtest.h>

namespace {

class Send : public ::testing::Test
{
protected:
    void SetUp() override { recorder::reset(); }
    void TearDown() override { recorder::reset(); }
    void tick() { core::tick(c.toggle, c.dasResult, c.dmxBuf, &DasCall); }
    FakeConsole c;
};

TEST_F(Send, EveryTickSendsTheLiveFrameEvenWhenNeverOpened)
{
    recorder::setResult(4, -3);
    c.setLevel(1, 255);
    tick();
    c.clickPage(3);
    c.setLevel(5, 128);
    tick();
    ASSERT_EQ(recorder::calls().size(), 2u);
    for (const auto &call : recorder::calls()) {
        EXPECT_EQ(call.command, 4);
        EXPECT_EQ(call.length, 512);
    }
    EXPECT_EQ(recorder::calls()[0].frame[0], 255);
    EXPECT_EQ(recorder::calls()[0].frame[36], 0);
    EXPECT_EQ(recorder::calls()[1].frame[36], 128);
    EXPECT_TRUE(framesEqual(recorder::calls()[1].frame, c.dmxBuf));
    // Never opened: silent failures, the caption stays as it was.
    EXPECT_EQ(c.toggle.text, "DAS起動");
}

TEST_F(Send, AFailingSendAfterASuccessfulOpenShowsNg)
{
    c.clickToggle(&DasCall);
    ASSERT_EQ(c.toggle.text, "DAS OK");
    tick();
    EXPECT_EQ(c.toggle.text, "DAS OK");
    recorder::setResult(4, -4);
    tick();
    EXPECT_EQ(c.toggle.text, "DAS NG");
    EXPECT_TRUE(c.toggle.down);
    // The next click closes, as after a failed open.
    c.clickToggle(&DasCall);
    EXPECT_EQ(recorder::commands().back(), 2);
    EXPECT_EQ(c.toggle.text, "DAS OFF");
    // Closed: failing sends stay silent.
    tick();
    EXPECT_EQ(c.toggle.text, "DAS OFF");
}

TEST_F(Send, FailingSendsAfterAFailedOpenLeaveTheCaptionAlone)
{
    recorder::setResult(1, -6);
    recorder::setResult(4, -3);
    c.clickToggle(&DasCall);
    c.toggle.text = "marker";
    tick();
    EXPECT_EQ(c.toggle.text, "marker");
}

} // namespace
