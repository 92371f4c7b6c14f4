// Controls that obey the toolkit's rules, wired to the console as the main window wires its own.
#pragma once

#include "console.h"
#include "recording_das.h"

#include <functional>
#include <string>
#include <utility>

struct FakeSlider : core::Slider
{
    int Position() const override { return position; }
    int Max() const override { return max; }
    // Like the real one: a change runs the handler before returning, no change runs nothing.
    void SetPosition(int value) override
    {
        if (value != std::exchange(position, value) && onChange)
            onChange();
    }
    int max = 255, position = 255;
    std::function<void()> onChange;
};

struct FakePanel : core::Panel
{
    void SetText(std::string_view value) override { text = value; }
    std::string text = "0";
};

struct FakeButton : core::Button
{
    bool Down() const override { return down; }
    std::string GetText() const override { return text; }
    void SetText(std::string_view value) override { text = value; }
    bool down = false;
    std::string text;
};

struct FakeConsole
{
    FakeSlider sliders[core::kFaders];
    FakePanel panels[core::kFaders], pageLabel;
    FakeButton pageButtons[core::kPages], toggle;
    core::Frame dmxBuf {};
    uint8_t faderShown[core::kFaders] {};
    int32_t pageTop = 0, dasResult = 0;
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
        toggle.text = "DAS起動";
        core::formCreate(dmxBuf, pageTop, dasResult);
    }
    void clickPage(int n) { core::pageSelected(bank, pageLabel, pageButtons[n - 1], n); }
    // A latching button flips before its click handler runs.
    void clickToggle()
    {
        toggle.down = !toggle.down;
        core::toggleClicked(toggle, dasResult, &DasCall);
    }
    void tick() { core::tick(toggle, dasResult, dmxBuf, &DasCall); }
    void setLevel(int k, int level) { sliders[k - 1].SetPosition(255 - level); }
};
