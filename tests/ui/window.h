// The main window as its tests drive it: created as the application creates it, with its rows of
// controls in the order the window makes them, and the mouse on a fader's thumb.
#pragma once

#include "Unit1.h"
#include "recording_das.h"

#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

struct Window
{
    Window() { recorder = {}, Form1 = &form, form.OnCreate(&form); }
    ~Window() { Form1 = nullptr; }
    bool show() { return form.show(), form.activateWindow(), QTest::qWaitForWindowActive(&form); }
    template <class T>
    QList<T *> row() { return form.findChildren<T *>(Qt::FindDirectChildrenOnly); }

    TForm1 form { nullptr };
    const QList<TScrollBar *> faders = row<TScrollBar>(); // 1-17
    const QList<TPanel *> panels = row<TPanel>();         // 1-18
    const QList<TSpeedButton *> buttons = row<TSpeedButton>(); // 1-32, 34, 33
};

// Presses the thumb of `fader`, moves it up 10 px `steps` times, then to height `y`, and lets go.
inline void drag(TScrollBar *fader, int steps, int y)
{
    QStyleOptionSlider option;
    option.initFrom(fader);
    option.orientation = Qt::Vertical;
    option.maximum = fader->maximum();
    option.sliderPosition = option.sliderValue = fader->value();
    QPoint at
        = fader->style()
              ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, fader)
              .center();
    QTest::mousePress(fader, Qt::LeftButton, {}, at);
    while (steps-- > 0)
        QTest::mouseMove(fader, at -= QPoint(0, 10));
    QTest::mouseMove(fader, at = QPoint(at.x(), y));
    QTest::mouseRelease(fader, Qt::LeftButton, {}, at);
}
