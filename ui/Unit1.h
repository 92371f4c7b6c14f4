// The console's main window: its controls, its frame of 512 levels and its event handlers.
// The numbered controls:
//   ScrollBar1-16    the channel faders of the page on show, level 255 at the top
//   Panel1-16        the level of the fader below each
//   ScrollBar17      the 0-100 fader, its value in Panel17; it acts on no channel
//   Panel18          the page on show, captioned as its page button
//   SpeedButton1-32  the pages of 16 channels ("001-016" to "497-512"), four rows of eight
//   SpeedButton33    Clear: every channel of every page to 0, sent at once
//   SpeedButton34    the output toggle: opens and closes the output, its caption says how it went
//   Timer1           sends the frame every 100 ms
#pragma once

#include "Forms.h"
#include "console.h"

#include <array>
#include <cstdint>

class TForm1 : public TForm
{
public:
    TScrollBar *ScrollBar1;
    TScrollBar *ScrollBar2;
    TScrollBar *ScrollBar3;
    TScrollBar *ScrollBar4;
    TScrollBar *ScrollBar5;
    TScrollBar *ScrollBar6;
    TScrollBar *ScrollBar7;
    TScrollBar *ScrollBar8;
    TScrollBar *ScrollBar9;
    TScrollBar *ScrollBar10;
    TScrollBar *ScrollBar11;
    TScrollBar *ScrollBar12;
    TScrollBar *ScrollBar13;
    TScrollBar *ScrollBar14;
    TScrollBar *ScrollBar15;
    TScrollBar *ScrollBar16;
    TPanel *Panel1;
    TPanel *Panel2;
    TPanel *Panel3;
    TPanel *Panel4;
    TPanel *Panel5;
    TPanel *Panel6;
    TPanel *Panel7;
    TPanel *Panel8;
    TPanel *Panel9;
    TPanel *Panel10;
    TPanel *Panel11;
    TPanel *Panel12;
    TPanel *Panel13;
    TPanel *Panel14;
    TPanel *Panel15;
    TPanel *Panel16;
    TPanel *Panel17;
    TPanel *Panel18;
    TSpeedButton *SpeedButton1;
    TSpeedButton *SpeedButton2;
    TSpeedButton *SpeedButton3;
    TSpeedButton *SpeedButton4;
    TSpeedButton *SpeedButton5;
    TSpeedButton *SpeedButton6;
    TSpeedButton *SpeedButton7;
    TSpeedButton *SpeedButton8;
    TSpeedButton *SpeedButton9;
    TSpeedButton *SpeedButton10;
    TSpeedButton *SpeedButton11;
    TSpeedButton *SpeedButton12;
    TSpeedButton *SpeedButton13;
    TSpeedButton *SpeedButton14;
    TSpeedButton *SpeedButton15;
    TSpeedButton *SpeedButton16;
    TScrollBar *ScrollBar17;
    TTimer *Timer1;
    TSpeedButton *SpeedButton17;
    TSpeedButton *SpeedButton18;
    TSpeedButton *SpeedButton19;
    TSpeedButton *SpeedButton20;
    TSpeedButton *SpeedButton21;
    TSpeedButton *SpeedButton22;
    TSpeedButton *SpeedButton23;
    TSpeedButton *SpeedButton24;
    TSpeedButton *SpeedButton25;
    TSpeedButton *SpeedButton26;
    TSpeedButton *SpeedButton27;
    TSpeedButton *SpeedButton28;
    TSpeedButton *SpeedButton29;
    TSpeedButton *SpeedButton30;
    TSpeedButton *SpeedButton31;
    TSpeedButton *SpeedButton32;
    TSpeedButton *SpeedButton34;
    TSpeedButton *SpeedButton33;

    core::Frame dmxBuf {};
    int32_t percentValue = 0;
    uint8_t faderShown[core::kFaders] {};
    int32_t pageTop = 0;
    int32_t dasResult = 0;

    explicit TForm1(TApplication *Owner);

    void FormCreate(TObject *Sender);
    void FormDestroy(TObject *Sender);
    void ScrollBar1Change(TObject *Sender);
    void ScrollBar2Change(TObject *Sender);
    void ScrollBar3Change(TObject *Sender);
    void ScrollBar4Change(TObject *Sender);
    void ScrollBar5Change(TObject *Sender);
    void ScrollBar6Change(TObject *Sender);
    void ScrollBar7Change(TObject *Sender);
    void ScrollBar8Change(TObject *Sender);
    void ScrollBar9Change(TObject *Sender);
    void ScrollBar10Change(TObject *Sender);
    void ScrollBar11Change(TObject *Sender);
    void ScrollBar12Change(TObject *Sender);
    void ScrollBar13Change(TObject *Sender);
    void ScrollBar14Change(TObject *Sender);
    void ScrollBar15Change(TObject *Sender);
    void ScrollBar16Change(TObject *Sender);
    void ScrollBar17Change(TObject *Sender);
    void SpeedButton1Click(TObject *Sender);
    void SpeedButton2Click(TObject *Sender);
    void SpeedButton3Click(TObject *Sender);
    void SpeedButton4Click(TObject *Sender);
    void SpeedButton5Click(TObject *Sender);
    void SpeedButton6Click(TObject *Sender);
    void SpeedButton7Click(TObject *Sender);
    void SpeedButton8Click(TObject *Sender);
    void SpeedButton9Click(TObject *Sender);
    void SpeedButton10Click(TObject *Sender);
    void SpeedButton11Click(TObject *Sender);
    void SpeedButton12Click(TObject *Sender);
    void SpeedButton13Click(TObject *Sender);
    void SpeedButton14Click(TObject *Sender);
    void SpeedButton15Click(TObject *Sender);
    void SpeedButton16Click(TObject *Sender);
    void SpeedButton17Click(TObject *Sender);
    void SpeedButton18Click(TObject *Sender);
    void SpeedButton19Click(TObject *Sender);
    void SpeedButton20Click(TObject *Sender);
    void SpeedButton21Click(TObject *Sender);
    void SpeedButton22Click(TObject *Sender);
    void SpeedButton23Click(TObject *Sender);
    void SpeedButton24Click(TObject *Sender);
    void SpeedButton25Click(TObject *Sender);
    void SpeedButton26Click(TObject *Sender);
    void SpeedButton27Click(TObject *Sender);
    void SpeedButton28Click(TObject *Sender);
    void SpeedButton29Click(TObject *Sender);
    void SpeedButton30Click(TObject *Sender);
    void SpeedButton31Click(TObject *Sender);
    void SpeedButton32Click(TObject *Sender);
    void SpeedButton33Click(TObject *Sender);
    void SpeedButton34Click(TObject *Sender);
    void Timer1Timer(TObject *Sender);
    void dmx512p();
    void dmx512in();

private:
    void createControls();
    void wireEvents();
    void faderChange(int k);  // shared body of the 16 channel fader handlers
    void pageClick(int n);    // shared body of the 32 page handlers

    core::FaderBank m_bank;
    std::array<TSpeedButton *, core::kPages> m_pageButtons {}; // SpeedButton1-32
};

extern TForm1 *Form1;
