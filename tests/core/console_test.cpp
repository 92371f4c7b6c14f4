// The console's logic over fake controls: levels and pages, Clear, the toggle and the periodic send.
#include "fake_controls.h"

#include <array>
#include <gtest/gtest.h>
#include <random>

namespace {

using Levels = std::array<uint8_t, 512>;
using Commands = std::vector<int32_t>;

class Console : public ::testing::Test
{
protected:
    void SetUp() override
    {
        recorder = {};
        recorder.caption = [this] { return c.toggle.text; };
    }
    void TearDown() override { recorder = {}; }
    Levels frame() const { return std::to_array(c.dmxBuf); }
    FakeConsole c;
};

// Random moves and page switches against a model of the 512 levels: after each, every fader and
// its panel show the level of its channel on the page, and the frame is the model.
TEST_F(Console, LevelsFollowTheFadersAcrossRandomPageSwitches)
{
    std::fill(std::begin(c.dmxBuf), std::end(c.dmxBuf), 0xAA);
    c.pageTop = 496;
    core::formCreate(c.dmxBuf, c.pageTop, c.dasResult);
    ASSERT_TRUE(frame() == Levels {} && c.pageTop == 0 && c.dasResult == -1);
    Levels model {};
    std::mt19937 random(99);
    for (int step = 0; step < 20000; ++step) {
        const int k = 1 + int(random() % 16), n = 1 + int(random() % 32);
        if (random() % 3 == 0) {
            c.clickPage(n);
            ASSERT_TRUE(c.pageTop == 16 * (n - 1) && c.pageLabel.text == c.pageButtons[n - 1].text);
        } else {
            c.setLevel(k, int(random() % 256));
            model[c.pageTop + k - 1] = uint8_t(255 - c.sliders[k - 1].position);
        }
        for (int f = 1; f <= 16; ++f) {
            const int level = 255 - c.sliders[f - 1].position;
            ASSERT_EQ(level, model[c.pageTop + f - 1]) << "fader " << f << ", step " << step;
            ASSERT_EQ(c.panels[f - 1].text, std::to_string(level)) << "fader " << f;
        }
        ASSERT_EQ(frame(), model) << "step " << step;
    }
    EXPECT_TRUE(recorder.calls.empty()) << "a page switch sent";
}

TEST_F(Console, PercentFaderShowsItsValueCountedFromTheBottom)
{
    FakeSlider percent;
    percent.max = percent.position = 100;
    int32_t value = -5;
    percent.onChange = [&] { core::percentChanged(percent, c.panels[0], value); };
    percent.SetPosition(63);
    EXPECT_TRUE(c.panels[0].text == "37" && value == 37);
}

TEST_F(Console, ClearZeroesEveryPageAndSendsTheClearedFrameAtOnce)
{
    c.setLevel(1, 200);
    c.clickPage(5);
    c.setLevel(16, 33);
    c.toggle.text = "DAS OK";
    recorder.results[4] = -4; // not looked at
    core::clearAll(c.bank, &DasCall);
    EXPECT_EQ(frame(), Levels {});
    for (int k = 1; k <= 16; ++k)
        EXPECT_TRUE(c.sliders[k - 1].position == 255 && c.panels[k - 1].text == "0") << k;
    EXPECT_TRUE(c.pageTop == 64 && c.toggle.text == "DAS OK");
    ASSERT_EQ(recorder.commands(), Commands { 4 });
    EXPECT_EQ(recorder.calls[0].length, 512);
    EXPECT_EQ(recorder.calls[0].frame, Levels {});
}

// Each click: what DasCall returns, the commands sent with the caption during each, and after.
TEST_F(Console, ToggleOpensStartsAndClosesSayingHowItGoes)
{
    const struct
    {
        std::map<int32_t, int32_t> results;
        std::vector<std::string> sent; // "COMMAND CAPTION-DURING"
        std::string after;
        int32_t dasResult;
    } clicks[] = {
        { { { 1, -6 } }, { "1 DAS ON" }, "DAS NG", -6 }, // a failed open stays down
        { { { 2, -1 } }, { "2 DAS OFF" }, "DAS OFF", -1 },
        { { { 3, 5 } }, { "1 DAS ON", "3 DAS OK" }, "DAS OK", 5 },
        { { { 2, 9 } }, { "2 DAS OFF" }, "DAS OFF", 9 },
    };
    for (const auto &click : clicks) {
        recorder.calls.clear();
        recorder.results = click.results;
        c.clickToggle();
        std::vector<std::string> sent;
        for (const DasRecord &call : recorder.calls)
            sent.push_back(std::to_string(call.command) + " " + call.caption
                + (call.length || call.hadBuffer ? " with arguments" : ""));
        EXPECT_EQ(sent, click.sent) << click.after;
        EXPECT_TRUE(c.toggle.text == click.after && c.dasResult == click.dasResult) << click.after;
    }
}

TEST_F(Console, TicksSendTheLiveFrameAndAFailureShowsOnlyAfterAGoodOpen)
{
    c.setLevel(1, 255);
    c.clickPage(3);
    c.setLevel(5, 128);
    recorder.results = { { 1, -6 }, { 4, -3 } };
    c.tick(); // never opened
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_TRUE(recorder.calls[0].command == 4 && recorder.calls[0].length == 512);
    EXPECT_TRUE(recorder.calls[0].frame == frame() && frame()[36] == 128);
    c.clickToggle(); // a failed open
    c.toggle.text = "left alone";
    c.tick();
    EXPECT_EQ(c.toggle.text, "left alone");
    c.clickToggle();
    recorder.results = {};
    c.clickToggle(); // open and start give 0
    c.tick();
    EXPECT_EQ(c.toggle.text, "DAS OK");
    recorder.results[4] = -4;
    c.tick();
    EXPECT_EQ(c.toggle.text, "DAS NG");
    c.clickToggle(); // closed: failing sends are silent
    c.tick();
    EXPECT_EQ(c.toggle.text, "DAS OFF");
}

} // namespace
