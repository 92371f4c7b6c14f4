// The window toolkit's controls over Qt Widgets: slider, panel, speed button and timer. Adapters
// only; each implements the console's control interface directly.
#pragma once

#include "control_interfaces.h"

#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <string>
#include <string_view>

using TObject = QObject;
// An event handler: receives the control that sent the event.
using TNotifyEvent = std::function<void(TObject *Sender)>;

// What every control shares: its place in its window and its caption.
template <class Widget>
class TControl : public Widget
{
public:
    explicit TControl(QWidget *Owner)
        : Widget(Owner)
    {
    }
    void SetBounds(int left, int top, int width, int height)
    {
        this->setGeometry(left, top, width, height);
    }
    std::string GetText() const { return this->text().toStdString(); }
    void SetText(std::string_view text)
    {
        this->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
};

// A vertical slider: Position 0 at the top, line and page steps 1. OnChange runs for every new
// Position, while the thumb is dragged too, and SetPosition to the current value runs nothing.
class TScrollBar : public TControl<QScrollBar>, public core::Slider
{
    Q_OBJECT

public:
    explicit TScrollBar(QWidget *Owner);
    int Min() const { return minimum(); }
    int Max() const override { return maximum(); }
    int Position() const override { return value(); }
    void SetMin(int value) { setMinimum(value); }
    void SetMax(int value) { setMaximum(value); }
    void SetPosition(int value) override { setValue(value); }

    TNotifyEvent OnChange;
};

// A framed caption.
class TPanel : public TControl<QLabel>, public core::Panel
{
    Q_OBJECT

public:
    explicit TPanel(QWidget *Owner);
    void SetText(std::string_view text) override { TControl::SetText(text); }
};

// A button that never takes the keyboard focus. Flat buttons show their face only under the
// mouse. A button with a GroupIndex latches: each click flips Down before OnClick runs.
class TSpeedButton : public TControl<QToolButton>, public core::Button
{
    Q_OBJECT

public:
    explicit TSpeedButton(QWidget *Owner);
    void SetFlat(bool flat) { setAutoRaise(flat); }
    bool Flat() const { return autoRaise(); }
    // With AllowAllUp, the one button of a group may be released again.
    void SetGroupIndex(int group, bool allowAllUp);
    int GroupIndex() const { return m_groupIndex; }
    bool Down() const override { return isChecked(); }
    std::string GetText() const override { return TControl::GetText(); }
    void SetText(std::string_view text) override { TControl::SetText(text); }

    TNotifyEvent OnClick;

private:
    int m_groupIndex = 0;
};

// A timer driven by the event loop, so OnTimer runs on the user-interface thread between
// other events. Enabled from creation, like the toolkit's own.
class TTimer : public QTimer, public core::Timer
{
public:
    explicit TTimer(QObject *Owner);
    bool Enabled() const override { return isActive(); }
    int Interval() const override { return interval(); }
    void SetEnabled(bool enabled);
    void SetInterval(int milliseconds);

    TNotifyEvent OnTimer;
};
