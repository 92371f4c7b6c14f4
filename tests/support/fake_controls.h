// Controls that obey the toolkit's rules, for console tests without a window, and a console
// wired the way the main window wires its own.
#pragma once

#include "console.h"

#include <functional>
#include <string>

class FakeSlider : public core::Slider
{
public:
    explicit FakeSlider(int max = 255)
        : m_max(max)
        , m_position(max)
    {
    }
    int Position() const override { return m_position; }
    int Max() const override { return m_max; }
    // Like the real one: a change runs the handler before returning, no change runs nothing.
    void SetPosition(int value) override
    {
        if (value == m_position)
            return;
        m_position = value;
        ++changes;
        if (onChange)
            onChange();
    }

    std::function<void()> onChange;
    int changes = 0;

private:
    int m_max;
    int m_position;
};

class FakePanel : public core::Panel
{
public:
    void SetText(std::string_view value) override
    {
        text = value;
        ++writes;
    }
    std::string text = "0";
    int writes = 0;
};

class FakeButton : public core::Button
{
public:
    bool Down() const override { return down; }
    std::string GetText() const override { return text; }
    void SetText(std::string_view value) override { text = value; }
    // A click on a latching button flips it before the handler runs.
    void flip() { down = !down; }

    bool down = false;
    std::string text;
};

// The console's state and controls, wired as the main window wires them.
struct FakeConsole
{
    FakeSlider sliders[core::kFaders];
    FakePanel panels[core::kFaders];
    FakePanel pageLabel;
    FakeButton pageButtons[core::kPages];
    FakeButton toggle;
    core::Frame dmxBuf {};
    uint8_t faderShown[core::kFaders] {};
    int32_t pageTop = 0;
    int32_t dasResult = 0;
    core::FaderBank bank { {}, {}, dmxBuf, faderShown, pageTop };

    FakeConsole()
    {
        for (int k = 1; k <= core::kFaders; ++k) {
            bank.sliders[k - 1] = &sliders[k - 1];
            bank.panels[k - 1] = &panels[k - 1];
            sliders[k - 1].onChange = [this, k] { core::faderChanged(bank, k); };
        }
        for (int n = 1; n <= core::kPages; ++n)
            pageButtons[n - 1].text = "page " + std::to_string(n);
        pageLabel.text = pageButtons[0].text;
        toggle.text = "DAS起動";
        core::formCreate(dmxBuf, pageTop, dasResult);
    }

    void clickPage(int n) { core::pageSelected(bank, pageLabel, pageButtons[n - 1], n); }
    void clickToggle(core::DasCallFn das)
    {
        toggle.flip();
        core::toggleClicked(toggle, dasResult, das);
    }
    // Level of fader k as the operator sees it: 255 at the top.
    void setLevel(int k, int level) { sliders[k - 1].SetPosition(255 - level); }
    int changesSoFar() const
    {
        int sum = 0;
        for (const auto &slider : sliders)
            sum += slider.changes;
        return sum;
    }
};
