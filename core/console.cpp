// The console's logic over borrowed controls; it allocates nothing.
#include "console.h"

#include "int_to_str.h"

namespace core {

namespace {

// A slider's value counts up from its bottom (Position 0 is its top). A channel fader's value is
// its level, which the frame holds in 8 bits: a full-range fader gives 0-255.
int valueOf(const Slider &slider) { return slider.Max() - slider.Position(); }
void setValue(Slider &slider, int value) { slider.SetPosition(slider.Max() - value); }
uint8_t levelOf(const Slider &slider) { return static_cast<uint8_t>(valueOf(slider)); }

constexpr std::string_view kCaptionOpening = "DAS ON";
constexpr std::string_view kCaptionOpen = DAS_CAPTION_OK;
constexpr std::string_view kCaptionFailed = DAS_CAPTION_NG;
constexpr std::string_view kCaptionClosed = "DAS OFF";

} // namespace

void formCreate(Frame &dmxBuf, int32_t &pageTop, int32_t &dasResult)
{
    pageTop = 0;
    dasResult = -1;
    for (auto &level : dmxBuf)
        level = 0;
}

void faderChanged(const FaderBank &bank, int k)
{
    const Slider &slider = *bank.sliders[k - 1];
    uint8_t &shown = bank.faderShown[k - 1];
    shown = levelOf(slider);
    // The panel is written before the frame, and the frame reads the control again.
    bank.panels[k - 1]->SetText(IntToStr(shown));
    bank.dmxBuf[bank.pageTop + k - 1] = levelOf(slider);
}

void percentChanged(const Slider &slider, Panel &panel, int32_t &percentValue)
{
    percentValue = valueOf(slider);
    panel.SetText(IntToStr(percentValue));
}

void fadersIntoFrame(const FaderBank &bank)
{
    for (int k = 1; k <= kFaders; ++k)
        bank.dmxBuf[bank.pageTop + k - 1] = levelOf(*bank.sliders[k - 1]);
}

void frameIntoFaders(const FaderBank &bank)
{
    for (int k = 1; k <= kFaders; ++k)
        setValue(*bank.sliders[k - 1], bank.dmxBuf[bank.pageTop + k - 1]);
}

void turnPage(const FaderBank &bank, Panel &pageLabel, const Button &pageButton, int n)
{
    bank.pageTop = kFaders * (n - 1);
    pageLabel.SetText(pageButton.GetText());
}

void clearAll(const FaderBank &bank, DasCallFn das)
{
    for (Slider *slider : bank.sliders)
        slider->SetPosition(255);
    // Every page, not only the one shown.
    for (auto &level : bank.dmxBuf)
        level = 0;
    das(kDasSend, kChannels, bank.dmxBuf);
}

void toggleClicked(Button &toggle, int32_t &dasResult, DasCallFn das)
{
    if (toggle.Down()) {
        // Each caption goes up before the call it describes, so a slow open reads "DAS ON".
        toggle.SetText(kCaptionOpening);
        dasResult = das(kDasOpen, 0, nullptr);
        if (dasResult < 0) {
            toggle.SetText(kCaptionFailed);
            return;
        }
        toggle.SetText(kCaptionOpen);
        dasResult = das(kDasStart, 0, nullptr);
    } else {
        toggle.SetText(kCaptionClosed);
        dasResult = das(kDasClose, 0, nullptr);
    }
}

void tick(Button &toggle, int32_t dasResult, Frame &dmxBuf, DasCallFn das)
{
    const int32_t result = das(kDasSend, kChannels, dmxBuf);
    // Down with a non-negative last result is the open state: a failing send there means the
    // lights no longer follow, and "DAS OK" would be a lie. Other states stay silent.
    if (result < 0 && toggle.Down() && dasResult >= 0)
        toggle.SetText(kCaptionFailed);
}

void closeInterface(DasCallFn das) { das(kDasClose, 0, nullptr); }

} // namespace core
