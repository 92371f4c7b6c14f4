// Qt wiring of the toolkit's controls.
#include "Controls.h"

TScrollBar::TScrollBar(QWidget *Owner)
    : TControl(Owner)
{
    setOrientation(Qt::Vertical);
    setSingleStep(1);
    setPageStep(1);
    setFocusPolicy(Qt::StrongFocus);
    // valueChanged fires only on a real change, for drags, keys, clicks and setValue alike.
    connect(this, &QAbstractSlider::valueChanged, this, [this] {
        if (OnChange)
            OnChange(this);
    });
}

TPanel::TPanel(QWidget *Owner)
    : TControl(Owner)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
}

TSpeedButton::TSpeedButton(QWidget *Owner)
    : TControl(Owner)
{
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    // clicked comes after a checkable button has flipped, so the handler sees the new state.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (OnClick)
            OnClick(this);
    });
}

void TSpeedButton::SetGroupIndex(int group, bool allowAllUp)
{
    // Grouped buttons latch; only a group that must always keep one button down is exclusive.
    m_groupIndex = group;
    setCheckable(group != 0);
    setAutoExclusive(group != 0 && !allowAllUp);
}

TTimer::TTimer(QObject *Owner)
    : QTimer(Owner)
{
    setTimerType(Qt::PreciseTimer);
    setInterval(1000);
    connect(this, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer(this);
    });
    start();
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled)
        start();
    else
        stop();
}

void TTimer::SetInterval(int milliseconds) { setInterval(milliseconds); }
