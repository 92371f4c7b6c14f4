// The interface toggle: which commands each click sends and what its caption says meanwhile.
#include "fake_controls.h"
#include "recording_das.h"

#include <gtest/gtest.h>

namespace {

using Commands = std::vector<int32_t>;

class Toggle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        recorder::reset();
        recorder::setCaptionSource([this] { return c.toggle.text; });
    }
    void TearDown() override { recorder::reset(); }
    FakeConsole c;
};

TEST_F(Toggle, FailingOpenShowsNgStaysDownAndTheNextClickCloses)
{
    recorder::setResult(1, -6);
    c.clickToggle(&DasCall);
    EXPECT_EQ(recorder::commands(), Commands({ 1 }));
    EXPECT_EQ(recorder::calls()[0].caption, "DAS ON");
    EXPECT_EQ(c.toggle.text, "DAS NG");
    EXPECT_TRUE(c.toggle.down);
    EXPECT_EQ(c.dasResult, -6);

    c.clickToggle(&DasCall);
    EXPECT_EQ(recorder::commands(), Commands({ 1, 2 }));
    EXPECT_EQ(recorder::calls()[1].caption, "DAS OFF");
    EXPECT_EQ(c.toggle.text, "DAS OFF");
    EXPECT_FALSE(c.toggle.down);
}

TEST_F(Toggle, WorkingOpenStartsClosesAndReopens)
{
    recorder::setResult(1, 0);
    recorder::setResult(3, 5);
    recorder::setResult(2, 9);
    c.clickToggle(&DasCall);
    EXPECT_EQ(recorder::commands(), Commands({ 1, 3 }));
    EXPECT_EQ(recorder::calls()[0].caption, "DAS ON");
    EXPECT_EQ(recorder::calls()[1].caption, "DAS OK");
    EXPECT_EQ(c.toggle.text, "DAS OK");
    EXPECT_EQ(c.dasResult, 5);

    c.clickToggle(&DasCall);
    EXPECT_EQ(c.toggle.text, "DAS OFF");
    EXPECT_EQ(c.dasResult, 9);

    c.clickToggle(&DasCall);
    EXPECT_EQ(recorder::commands(), Commands({ 1, 3, 2, 1, 3 }));
    EXPECT_EQ(c.toggle.text, "DAS OK");
    for (const auto &call : recorder::calls()) {
        EXPECT_EQ(call.length, 0);
        EXPECT_FALSE(call.hadBuffer);
    }
}

TEST_F(Toggle, ClosingSendsCloseEvenAfterAFailedOpenAndIgnoresItsResult)
{
    recorder::setResult(1, -3);
    recorder::setResult(2, -1);
    c.clickToggle(&DasCall);
    c.clickToggle(&DasCall);
    EXPECT_EQ(c.toggle.text, "DAS OFF");
    recorder::setResult(1, 1);
    c.clickToggle(&DasCall);
    EXPECT_EQ(c.toggle.text, "DAS OK");
}

} // namespace
