// The main window: creates and places its controls, wires their events to the named handlers,
// and hands each handler's work to the console logic.
#include "Unit1.h"

#include "dashard.h"

#include <QIcon>
#include <QPainter>
#include <array>

TForm1 *Form1 = nullptr;

namespace {

// Captions of the page buttons, page 1 first, exactly as the operator knows them.
constexpr const char *kPageCaptions[core::kPages] = {
    "001-016", "017-032", "033-048", "049-64", "065-080", "081-096", "097-112", "113-128",
    "129-144", "145-160", "161-176", "177-192", "193-208", "209-224", "225-240", "241-256",
    "257-272", "273-288", "289-304", "305-320", "321-336", "337-352", "353-368", "369-384",
    "385-400", "401-416", "417-432", "433-448", "449-464", "465-480", "481-496", "497-512",
};

using Handler = void (TForm1::*)(TObject *);

QPixmap drawIcon(int size)
{
    // Three fader slots with their knobs at different heights on a dark face.
    QPixmap pixmap(size, size);
    pixmap.fill(QColor(0x20, 0x24, 0x2c));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, size > 16);
    const double unit = size / 16.0;
    const double knobs[3] = { 10.5, 4.5, 7.5 };
    for (int i = 0; i < 3; ++i) {
        const double x = (3.0 + 5.0 * i) * unit;
        painter.fillRect(
            QRectF(x - 0.5 * unit, 2 * unit, unit, 12 * unit), QColor(0x70, 0x78, 0x88));
        painter.fillRect(QRectF(x - 1.5 * unit, (knobs[i] - 1) * unit, 3 * unit, 2 * unit),
                         QColor(0xff, 0xb0, 0x20));
    }
    return pixmap;
}

QIcon consoleIcon()
{
    QIcon icon;
    icon.addPixmap(drawIcon(16));
    icon.addPixmap(drawIcon(32));
    return icon;
}

} // namespace

TForm1::TForm1(TApplication *Owner)
    : TForm(Owner)
    , m_bank { {}, {}, dmxBuf, faderShown, pageTop }
{
    createControls();
    wireEvents();
    OnCreate = [this](TObject *Sender) { FormCreate(Sender); };
}

void TForm1::createControls()
{
    SetCaption("Brivane");
    SetBounds(352, 380, 628, 434);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    // Controls take the window's font; none sets its own. Where the console's own face is missing,
    // IPA's fixed-pitch Gothic stands in: its half-width digits keep "001-016" and "255" whole
    // inside their panels, where the wider digits of its proportional face are cut off.
    QFont font;
    font.setFamilies({ QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAGothic") });
    font.setPixelSize(12);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setWindowIcon(consoleIcon());

    ScrollBar1 = new TScrollBar(this);
    ScrollBar2 = new TScrollBar(this);
    ScrollBar3 = new TScrollBar(this);
    ScrollBar4 = new TScrollBar(this);
    ScrollBar5 = new TScrollBar(this);
    ScrollBar6 = new TScrollBar(this);
    ScrollBar7 = new TScrollBar(this);
    ScrollBar8 = new TScrollBar(this);
    ScrollBar9 = new TScrollBar(this);
    ScrollBar10 = new TScrollBar(this);
    ScrollBar11 = new TScrollBar(this);
    ScrollBar12 = new TScrollBar(this);
    ScrollBar13 = new TScrollBar(this);
    ScrollBar14 = new TScrollBar(this);
    ScrollBar15 = new TScrollBar(this);
    ScrollBar16 = new TScrollBar(this);
    Panel1 = new TPanel(this);
    Panel2 = new TPanel(this);
    Panel3 = new TPanel(this);
    Panel4 = new TPanel(this);
    Panel5 = new TPanel(this);
    Panel6 = new TPanel(this);
    Panel7 = new TPanel(this);
    Panel8 = new TPanel(this);
    Panel9 = new TPanel(this);
    Panel10 = new TPanel(this);
    Panel11 = new TPanel(this);
    Panel12 = new TPanel(this);
    Panel13 = new TPanel(this);
    Panel14 = new TPanel(this);
    Panel15 = new TPanel(this);
    Panel16 = new TPanel(this);
    Panel17 = new TPanel(this);
    Panel18 = new TPanel(this);
    SpeedButton1 = new TSpeedButton(this);
    SpeedButton2 = new TSpeedButton(this);
    SpeedButton3 = new TSpeedButton(this);
    SpeedButton4 = new TSpeedButton(this);
    SpeedButton5 = new TSpeedButton(this);
    SpeedButton6 = new TSpeedButton(this);
    SpeedButton7 = new TSpeedButton(this);
    SpeedButton8 = new TSpeedButton(this);
    SpeedButton9 = new TSpeedButton(this);
    SpeedButton10 = new TSpeedButton(this);
    SpeedButton11 = new TSpeedButton(this);
    SpeedButton12 = new TSpeedButton(this);
    SpeedButton13 = new TSpeedButton(this);
    SpeedButton14 = new TSpeedButton(this);
    SpeedButton15 = new TSpeedButton(this);
    SpeedButton16 = new TSpeedButton(this);
    ScrollBar17 = new TScrollBar(this);
    Timer1 = new TTimer(this);
    SpeedButton17 = new TSpeedButton(this);
    SpeedButton18 = new TSpeedButton(this);
    SpeedButton19 = new TSpeedButton(this);
    SpeedButton20 = new TSpeedButton(this);
    SpeedButton21 = new TSpeedButton(this);
    SpeedButton22 = new TSpeedButton(this);
    SpeedButton23 = new TSpeedButton(this);
    SpeedButton24 = new TSpeedButton(this);
    SpeedButton25 = new TSpeedButton(this);
    SpeedButton26 = new TSpeedButton(this);
    SpeedButton27 = new TSpeedButton(this);
    SpeedButton28 = new TSpeedButton(this);
    SpeedButton29 = new TSpeedButton(this);
    SpeedButton30 = new TSpeedButton(this);
    SpeedButton31 = new TSpeedButton(this);
    SpeedButton32 = new TSpeedButton(this);
    SpeedButton34 = new TSpeedButton(this);
    SpeedButton33 = new TSpeedButton(this);

    const std::array<TScrollBar *, core::kFaders> faders { ScrollBar1, ScrollBar2, ScrollBar3,
        ScrollBar4, ScrollBar5, ScrollBar6, ScrollBar7, ScrollBar8, ScrollBar9, ScrollBar10,
        ScrollBar11, ScrollBar12, ScrollBar13, ScrollBar14, ScrollBar15, ScrollBar16 };
    const std::array<TPanel *, core::kFaders> panels { Panel1, Panel2, Panel3, Panel4, Panel5,
        Panel6, Panel7, Panel8, Panel9, Panel10, Panel11, Panel12, Panel13, Panel14, Panel15,
        Panel16 };
    for (int k = 1; k <= core::kFaders; ++k) {
        TScrollBar *fader = faders[k - 1];
        fader->SetBounds(96 + 32 * (k - 1), 144, 25, 249);
        fader->SetMax(255);
        fader->SetPosition(255);
        panels[k - 1]->SetBounds(96 + 32 * (k - 1), 120, 25, 17);
        panels[k - 1]->SetText("0");
        m_bank.sliders[k - 1] = fader;
        m_bank.panels[k - 1] = panels[k - 1];
    }
    ScrollBar17->SetBounds(32, 144, 33, 249);
    ScrollBar17->SetMax(100);
    ScrollBar17->SetPosition(100);
    Panel17->SetBounds(32, 120, 33, 17);
    Panel17->SetText("0");

    m_pageButtons = { SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4, SpeedButton5,
        SpeedButton6, SpeedButton7, SpeedButton8, SpeedButton9, SpeedButton10, SpeedButton11,
        SpeedButton12, SpeedButton13, SpeedButton14, SpeedButton15, SpeedButton16, SpeedButton17,
        SpeedButton18, SpeedButton19, SpeedButton20, SpeedButton21, SpeedButton22, SpeedButton23,
        SpeedButton24, SpeedButton25, SpeedButton26, SpeedButton27, SpeedButton28, SpeedButton29,
        SpeedButton30, SpeedButton31, SpeedButton32 };
    for (int n = 1; n <= core::kPages; ++n) {
        TSpeedButton *button = m_pageButtons[n - 1];
        button->SetBounds(152 + 56 * ((n - 1) % 8), 8 + 24 * ((n - 1) / 8), 57, 17);
        button->SetFlat(true);
        button->SetText(kPageCaptions[n - 1]);
    }
    Panel18->SetBounds(96, 8, 49, 41);
    Panel18->SetText(kPageCaptions[0]);
    SpeedButton33->SetBounds(96, 56, 49, 25);
    SpeedButton33->SetFlat(false);
    SpeedButton33->SetText("クリア");

    SpeedButton34->SetBounds(3, 8, 78, 25);
    SpeedButton34->SetFlat(true);
    SpeedButton34->SetGroupIndex(1, true);
    SpeedButton34->SetText("DAS起動");
    Timer1->SetInterval(100);
    Timer1->SetEnabled(true);

    // Keyboard order among the faders; the third fader comes last.
    const std::array<QWidget *, 17> tabOrder { ScrollBar1, ScrollBar2, ScrollBar4, ScrollBar5,
        ScrollBar6, ScrollBar7, ScrollBar8, ScrollBar9, ScrollBar10, ScrollBar11, ScrollBar12,
        ScrollBar13, ScrollBar14, ScrollBar15, ScrollBar16, ScrollBar17, ScrollBar3 };
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    ScrollBar1->setFocus();
}

void TForm1::wireEvents()
{
    static constexpr std::array<Handler, 17> changeHandlers { &TForm1::ScrollBar1Change,
        &TForm1::ScrollBar2Change, &TForm1::ScrollBar3Change, &TForm1::ScrollBar4Change,
        &TForm1::ScrollBar5Change, &TForm1::ScrollBar6Change, &TForm1::ScrollBar7Change,
        &TForm1::ScrollBar8Change, &TForm1::ScrollBar9Change, &TForm1::ScrollBar10Change,
        &TForm1::ScrollBar11Change, &TForm1::ScrollBar12Change, &TForm1::ScrollBar13Change,
        &TForm1::ScrollBar14Change, &TForm1::ScrollBar15Change, &TForm1::ScrollBar16Change,
        &TForm1::ScrollBar17Change };
    static constexpr std::array<Handler, core::kPages> pageHandlers { &TForm1::SpeedButton1Click,
        &TForm1::SpeedButton2Click, &TForm1::SpeedButton3Click, &TForm1::SpeedButton4Click,
        &TForm1::SpeedButton5Click, &TForm1::SpeedButton6Click, &TForm1::SpeedButton7Click,
        &TForm1::SpeedButton8Click, &TForm1::SpeedButton9Click, &TForm1::SpeedButton10Click,
        &TForm1::SpeedButton11Click, &TForm1::SpeedButton12Click, &TForm1::SpeedButton13Click,
        &TForm1::SpeedButton14Click, &TForm1::SpeedButton15Click, &TForm1::SpeedButton16Click,
        &TForm1::SpeedButton17Click, &TForm1::SpeedButton18Click, &TForm1::SpeedButton19Click,
        &TForm1::SpeedButton20Click, &TForm1::SpeedButton21Click, &TForm1::SpeedButton22Click,
        &TForm1::SpeedButton23Click, &TForm1::SpeedButton24Click, &TForm1::SpeedButton25Click,
        &TForm1::SpeedButton26Click, &TForm1::SpeedButton27Click, &TForm1::SpeedButton28Click,
        &TForm1::SpeedButton29Click, &TForm1::SpeedButton30Click, &TForm1::SpeedButton31Click,
        &TForm1::SpeedButton32Click };
    const std::array<TScrollBar *, 17> scrollBars { ScrollBar1, ScrollBar2, ScrollBar3, ScrollBar4,
        ScrollBar5, ScrollBar6, ScrollBar7, ScrollBar8, ScrollBar9, ScrollBar10, ScrollBar11,
        ScrollBar12, ScrollBar13, ScrollBar14, ScrollBar15, ScrollBar16, ScrollBar17 };
    for (std::size_t i = 0; i < scrollBars.size(); ++i)
        scrollBars[i]->OnChange
            = [this, h = changeHandlers[i]](TObject *Sender) { (this->*h)(Sender); };
    for (std::size_t i = 0; i < m_pageButtons.size(); ++i)
        m_pageButtons[i]->OnClick
            = [this, h = pageHandlers[i]](TObject *Sender) { (this->*h)(Sender); };
    SpeedButton33->OnClick = [this](TObject *Sender) { SpeedButton33Click(Sender); };
    SpeedButton34->OnClick = [this](TObject *Sender) { SpeedButton34Click(Sender); };
    Timer1->OnTimer = [this](TObject *Sender) { Timer1Timer(Sender); };
}

void TForm1::FormCreate(TObject *) { core::formCreate(dmxBuf, pageTop, dasResult); }

// The form's named close handler, kept for it; no event runs it, so closing sends nothing.
void TForm1::FormDestroy(TObject *) { core::closeInterface(&DasCall); }

void TForm1::faderChange(int k) { core::faderChanged(m_bank, k); }

#define FADER_HANDLER(k) \
    void TForm1::ScrollBar##k##Change(TObject *) { faderChange(k); }
FADER_HANDLER(1)
FADER_HANDLER(2)
FADER_HANDLER(3)
FADER_HANDLER(4)
FADER_HANDLER(5)
FADER_HANDLER(6)
FADER_HANDLER(7)
FADER_HANDLER(8)
FADER_HANDLER(9)
FADER_HANDLER(10)
FADER_HANDLER(11)
FADER_HANDLER(12)
FADER_HANDLER(13)
FADER_HANDLER(14)
FADER_HANDLER(15)
FADER_HANDLER(16)
#undef FADER_HANDLER

void TForm1::ScrollBar17Change(TObject *)
{
    core::percentChanged(*ScrollBar17, *Panel17, percentValue);
}

void TForm1::dmx512p() { core::fadersIntoFrame(m_bank); }

void TForm1::dmx512in() { core::frameIntoFaders(m_bank); }

// The page on show keeps its levels before the bank moves, and the new one's come up after.
void TForm1::pageClick(int n)
{
    dmx512p();
    core::turnPage(m_bank, *Panel18, *m_pageButtons[n - 1], n);
    dmx512in();
}

#define PAGE_HANDLER(n) \
    void TForm1::SpeedButton##n##Click(TObject *) { pageClick(n); }
PAGE_HANDLER(1)
PAGE_HANDLER(2)
PAGE_HANDLER(3)
PAGE_HANDLER(4)
PAGE_HANDLER(5)
PAGE_HANDLER(6)
PAGE_HANDLER(7)
PAGE_HANDLER(8)
PAGE_HANDLER(9)
PAGE_HANDLER(10)
PAGE_HANDLER(11)
PAGE_HANDLER(12)
PAGE_HANDLER(13)
PAGE_HANDLER(14)
PAGE_HANDLER(15)
PAGE_HANDLER(16)
PAGE_HANDLER(17)
PAGE_HANDLER(18)
PAGE_HANDLER(19)
PAGE_HANDLER(20)
PAGE_HANDLER(21)
PAGE_HANDLER(22)
PAGE_HANDLER(23)
PAGE_HANDLER(24)
PAGE_HANDLER(25)
PAGE_HANDLER(26)
PAGE_HANDLER(27)
PAGE_HANDLER(28)
PAGE_HANDLER(29)
PAGE_HANDLER(30)
PAGE_HANDLER(31)
PAGE_HANDLER(32)
#undef PAGE_HANDLER

void TForm1::SpeedButton33Click(TObject *) { core::clearAll(m_bank, &DasCall); }

void TForm1::SpeedButton34Click(TObject *)
{
    core::toggleClicked(*SpeedButton34, dasResult, &DasCall);
}

void TForm1::Timer1Timer(TObject *) { core::tick(*SpeedButton34, dasResult, dmxBuf, &DasCall); }
