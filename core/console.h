// The console's logic: the 512-level frame, the 16-fader bank that edits one page of it, page
// selection, Clear, the interface toggle and the periodic send.
#pragma once

#include "control_interfaces.h"
#include "dashard.h"

#include <array>
#include <cstdint>

namespace core {

inline constexpr int kChannels = DAS_FRAME_SIZE;
inline constexpr int kFaders = 16;
inline constexpr int kPages = kChannels / kFaders;

// DasCall's command codes, by the names the console uses.
enum DasCommand : int32_t {
    kDasOpen = DAS_CMD_OPEN,
    kDasClose = DAS_CMD_CLOSE,
    kDasStart = DAS_CMD_START,
    kDasSend = DAS_CMD_SEND
};

using Frame = uint8_t[kChannels]; // levels 0-255, index 0 = channel 1

// The fader bank as the window holds it. Everything here is borrowed from the window, which
// outlives the view. Fader k (1-16) edits frame[pageTop + k - 1]; its level is Max - Position.
struct FaderBank
{
    std::array<Slider *, kFaders> sliders;
    std::array<Panel *, kFaders> panels;
    Frame &dmxBuf;
    uint8_t (&faderShown)[kFaders];
    int32_t &pageTop;
};

// Window creation: page 1, no interface result yet, every channel at 0.
void formCreate(Frame &dmxBuf, int32_t &pageTop, int32_t &dasResult);

// Fader k (1-16) moved: show its level, then store it in the frame at the current page.
void faderChanged(const FaderBank &bank, int k);

// The 0-100 fader moved: store and show its value; it acts on nothing else.
void percentChanged(const Slider &slider, Panel &panel, int32_t &percentValue);

// The 16 fader levels into the frame at the current page. Touches no control.
void fadersIntoFrame(const FaderBank &bank);

// The frame at the current page into the 16 faders. Only faders whose level differs move, and
// their change handlers bring panels and frame along.
void frameIntoFaders(const FaderBank &bank);

// Page n (1-32) chosen with its button: the bank moves to the page, labelled with the button's
// caption. Touches neither frame nor faders: the window keeps the shown levels before (the faders
// into the frame) and shows the page's after (the frame into the faders). Sends nothing.
void turnPage(const FaderBank &bank, Panel &pageLabel, const Button &pageButton, int n);

// Clear: every fader to the bottom, every channel of every page to 0, and the cleared frame out
// at once. The send's result is not looked at.
void clearAll(const FaderBank &bank, DasCallFn das);

// The interface toggle was clicked (its down state already flipped): open or close the
// interface and say how it went in the button's caption.
void toggleClicked(Button &toggle, int32_t &dasResult, DasCallFn das);

// One tick of the output timer: the whole frame goes out. When the interface was opened and a
// send now fails, the toggle says so instead of going on with "DAS OK".
void tick(Button &toggle, int32_t dasResult, Frame &dmxBuf, DasCallFn das);

// Closes the interface, result ignored.
void closeInterface(DasCallFn das);

} // namespace core
