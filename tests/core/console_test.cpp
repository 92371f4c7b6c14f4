// The console's logic over fake controls: Clear, the toggle and the periodic send. Levels and pages
// are walked at random on the real window by the invariant test.
#include "console.h"
#include "recording_das.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using Levels = std::array<uint8_t, 512>;

struct FakeSlider : core::Slider
{
    int Position() const override { return position; }
    int Max() const override { return 255; }
    // Like the real one: a change runs the handler before returning, no change runs nothing.
    void SetPosition(int value) override
    {
        if (value != std::exchange(position, value))
            onChange();
    }
    int position = 255;
    std::function<void()> onChange;
};

struct FakeText : core::Panel, core::Button
{
    bool Down() const override { return down; }
    std::string GetText() const override { return text; }
    void SetText(std::string_view value) override { text = value; }
    bool down = false;
    std::string text = "0";
};

// The console's state and controls, wired as the main window wires them, and a recording DasCall.
class Console : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int k = 1; k <= core::kFaders; ++k) {
            bank.sliders[k - 1] = &sliders[k - 1];
            bank.panels[k - 1] = &panels[k - 1];
            sliders[k - 1].onChange = [this, k] { core::faderChanged(bank, k); };
        }
        toggle.text = "DAS起動";
        core::formCreate(dmxBuf, pageTop, dasResult);
        recorder = { .caption = [this] { return toggle.text; } };
    }
    void clickToggle() // a latching button flips before its click handler runs
    {
        toggle.down = !toggle.down;
        core::toggleClicked(toggle, dasResult, &DasCall);
    }
    void setLevel(int k, int level) { sliders[k - 1].SetPosition(255 - level); }
    Levels frame() const { return std::to_array(dmxBuf); }

    FakeSlider sliders[core::kFaders];
    FakeText panels[core::kFaders], toggle;
    core::Frame dmxBuf {};
    uint8_t faderShown[core::kFaders] {};
    int32_t pageTop = 0, dasResult = 0;
    core::FaderBank bank { {}, {}, dmxBuf, faderShown, pageTop };
};

TEST_F(Console, ClearZeroesEveryPageAndSendsTheClearedFrameAtOnce)
{
    setLevel(1, 200);
    pageTop = 64; // page 5
    setLevel(16, 33);
    toggle.text = "DAS OK";
    recorder.results[4] = -4; // not looked at
    core::clearAll(bank, &DasCall);
    EXPECT_EQ(frame(), Levels {});
    for (int k = 1; k <= 16; ++k)
        EXPECT_TRUE(sliders[k - 1].position == 255 && panels[k - 1].text == "0") << k;
    EXPECT_TRUE(pageTop == 64 && toggle.text == "DAS OK");
    EXPECT_TRUE(recorder.calls.size() == 1 && recorder.calls[0].command == 4
        && recorder.calls[0].length == 512 && recorder.calls[0].frame == Levels {});
}

// Each click of the toggle (C) or tick of the timer (T): what DasCall returns, the commands sent
// with the caption during each, and the caption and kept result after.
TEST_F(Console, ToggleAndTicksSayHowTheInterfaceGoes)
{
    const struct
    {
        char what;
        std::map<int32_t, int32_t> results;
        std::vector<std::string> sent; // "COMMAND CAPTION-DURING"
        std::string after;
        int32_t dasResult;
    } steps[] = {
        { 'C', { { 1, -6 } }, { "1 DAS ON" }, "DAS NG", -6 }, // a failed open stays down
        { 'T', { { 4, -3 } }, { "4 DAS NG" }, "DAS NG", -6 },
        { 'C', {}, { "2 DAS OFF" }, "DAS OFF", 0 },
        { 'T', { { 4, -3 } }, { "4 DAS OFF" }, "DAS OFF", 0 }, // up: failing sends are silent
        { 'C', { { 3, 5 } }, { "1 DAS ON", "3 DAS OK" }, "DAS OK", 5 },
        { 'C', { { 2, 9 } }, { "2 DAS OFF" }, "DAS OFF", 9 },
        { 'C', {}, { "1 DAS ON", "3 DAS OK" }, "DAS OK", 0 },
        { 'T', {}, { "4 DAS OK" }, "DAS OK", 0 },
        { 'T', { { 4, -4 } }, { "4 DAS OK" }, "DAS NG", 0 }, // the interface lost after a good open
    };
    pageTop = 32;
    setLevel(5, 128);
    for (const auto &step : steps) {
        recorder.calls.clear();
        recorder.results = step.results;
        step.what == 'C' ? clickToggle() : core::tick(toggle, dasResult, dmxBuf, &DasCall);
        std::vector<std::string> sent;
        for (const DasRecord &call : recorder.calls)
            sent.push_back(std::to_string(call.command) + " " + call.caption
                + (call.command == 4
                        ? call.length == 512 && call.frame == frame() ? "" : " another frame"
                        : call.length || call.hadBuffer ? " with arguments"
                                                        : ""));
        EXPECT_EQ(sent, step.sent) << step.after;
        EXPECT_TRUE(toggle.text == step.after && dasResult == step.dasResult) << step.after;
    }
    EXPECT_EQ(frame()[36], 128);
}

} // namespace
