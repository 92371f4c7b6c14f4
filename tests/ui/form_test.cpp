// The real main window, driven with mouse and keyboard on the offscreen platform.
#include "Unit1.h"
#include "recording_das.h"

#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>
#include <array>
#include <memory>

namespace {

std::array<TScrollBar *, 17> scrollBars(TForm1 &f)
{
    return { f.ScrollBar1, f.ScrollBar2, f.ScrollBar3, f.ScrollBar4, f.ScrollBar5, f.ScrollBar6,
             f.ScrollBar7, f.ScrollBar8, f.ScrollBar9, f.ScrollBar10, f.ScrollBar11, f.ScrollBar12,
             f.ScrollBar13, f.ScrollBar14, f.ScrollBar15, f.ScrollBar16, f.ScrollBar17 };
}

std::array<TPanel *, 18> panels(TForm1 &f)
{
    return { f.Panel1, f.Panel2, f.Panel3, f.Panel4, f.Panel5, f.Panel6, f.Panel7, f.Panel8, f.Panel9,
             f.Panel10, f.Panel11, f.Panel12, f.Panel13, f.Panel14, f.Panel15, f.Panel16, f.Panel17,
             f.Panel18 };
}

std::array<TSpeedButton *, 34> speedButtons(TForm1 &f)
{
    return { f.SpeedButton1, f.SpeedButton2, f.SpeedButton3, f.SpeedButton4, f.SpeedButton5,
             f.SpeedButton6, f.SpeedButton7, f.SpeedButton8, f.SpeedButton9, f.SpeedButton10,
             f.SpeedButton11, f.SpeedButton12, f.SpeedButton13, f.SpeedButton14, f.SpeedButton15,
             f.SpeedButton16, f.SpeedButton17, f.SpeedButton18, f.SpeedButton19, f.SpeedButton20,
             f.SpeedButton21, f.SpeedButton22, f.SpeedButton23, f.SpeedButton24, f.SpeedButton25,
             f.SpeedButton26, f.SpeedButton27, f.SpeedButton28, f.SpeedButton29, f.SpeedButton30,
             f.SpeedButton31, f.SpeedButton32, f.SpeedButton33, f.SpeedButton34 };
}

int level(TScrollBar *fader) { return fader->Max() - fader->Position(); }

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TForm1> form;

    // A fresh window as the application creates it: controls first, then OnCreate.
    void createForm()
    {
        form = std::make_unique<TForm1>(nullptr);
        Form1 = form.get();
        form->OnCreate(form.get());
    }
    void showForm()
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    int commandCount(int32_t command)
    {
        const std::vector<int32_t> commands = recorder::commands();
        return int(std::count(commands.begin(), commands.end(), command));
    }

private slots:
    void init()
    {
        recorder::reset();
        createForm();
    }
    void cleanup()
    {
        form.reset();
        Form1 = nullptr;
        recorder::reset();
    }

    void windowAndControlsSitWhereTheOperatorExpectsThem()
    {
        QCOMPARE(form->windowTitle(), QString("Brivane"));
        QCOMPARE(form->pos(), QPoint(352, 380));
        QCOMPARE(form->size(), QSize(628, 434));
        QCOMPARE(form->font().pixelSize(), 12);
        QVERIFY(form->font().families().contains("IPAPGothic"));
        QCOMPARE(form->windowIcon().availableSizes(), QList<QSize>({ QSize(16, 16), QSize(32, 32) }));
        const auto bars = scrollBars(*form);
        const auto labels = panels(*form);
        for (int k = 1; k <= 16; ++k) {
            QCOMPARE(bars[k - 1]->geometry(), QRect(96 + 32 * (k - 1), 144, 25, 249));
            QCOMPARE(labels[k - 1]->geometry(), QRect(96 + 32 * (k - 1), 120, 25, 17));
            QCOMPARE(bars[k - 1]->orientation(), Qt::Vertical);
            QCOMPARE(bars[k - 1]->maximum(), 255);
        }
        QCOMPARE(form->ScrollBar17->geometry(), QRect(32, 144, 33, 249));
        QCOMPARE(form->ScrollBar17->maximum(), 100);
        QCOMPARE(form->Panel17->geometry(), QRect(32, 120, 33, 17));
        QCOMPARE(form->Panel18->geometry(), QRect(96, 8, 49, 41));
        const auto buttons = speedButtons(*form);
        for (int n = 1; n <= 32; ++n) {
            QCOMPARE(buttons[n - 1]->geometry(),
                     QRect(152 + 56 * ((n - 1) % 8), 8 + 24 * ((n - 1) / 8), 57, 17));
            QVERIFY(buttons[n - 1]->Flat());
            QVERIFY(!buttons[n - 1]->isCheckable());
        }
        QCOMPARE(form->SpeedButton33->geometry(), QRect(96, 56, 49, 25));
        QVERIFY(!form->SpeedButton33->Flat());
        QCOMPARE(form->SpeedButton34->geometry(), QRect(3, 8, 78, 25));
        QVERIFY(form->SpeedButton34->Flat());
        QVERIFY(form->SpeedButton34->isCheckable());
        for (QWidget *child : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QCOMPARE(child->font(), form->font());
        // Resizing the window moves nothing.
        form->resize(900, 700);
        QCOMPARE(form->ScrollBar16->geometry(), QRect(576, 144, 25, 249));
    }

    void startShowsEveryLevelAtZero()
    {
        for (TScrollBar *bar : scrollBars(*form))
            QCOMPARE(bar->Position(), bar->Max());
        for (int k = 1; k <= 17; ++k)
            QCOMPARE(panels(*form)[k - 1]->text(), QString("0"));
        QCOMPARE(form->Panel18->text(), QString("001-016"));
        QCOMPARE(form->SpeedButton34->text(), QString("DAS起動"));
        QVERIFY(!form->SpeedButton34->Down());
        QCOMPARE(form->SpeedButton33->text(), QString("クリア"));
        QCOMPARE(form->SpeedButton4->text(), QString("049-64"));
        QCOMPARE(form->SpeedButton32->text(), QString("497-512"));
        QCOMPARE(form->pageTop, 0);
        QCOMPARE(form->dasResult, -1);
        QVERIFY(std::all_of(std::begin(form->dmxBuf), std::end(form->dmxBuf),
                            [](uint8_t v) { return v == 0; }));
        QCOMPARE(form->Timer1->Interval(), 100);
        QCOMPARE(form->Timer1->timerType(), Qt::PreciseTimer); // a frame each 100 ms, not 95-105
        QVERIFY(form->Timer1->Enabled());
        // Building the window ran no handler and sent nothing.
        QVERIFY(recorder::calls().empty());
    }

    void focusStartsOnTheFirstFaderAndTabSkipsTheThirdUntilLast()
    {
        showForm();
        QCOMPARE(QApplication::focusWidget(), form->ScrollBar1);
        const auto bars = scrollBars(*form);
        const int order[] = { 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 3, 1 };
        for (int k : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), bars[k - 1]);
        }
    }

    void keyboardStepsMoveLevelPanelAndFrame()
    {
        showForm();
        form->Timer1->stop();
        TScrollBar *fader = form->ScrollBar1;
        const struct
        {
            Qt::Key key;
            int level;
        } steps[] = { { Qt::Key_Up, 1 },     { Qt::Key_Up, 2 },      { Qt::Key_PageUp, 3 },
                      { Qt::Key_Down, 2 },   { Qt::Key_PageDown, 1 }, { Qt::Key_Home, 255 },
                      { Qt::Key_Down, 254 }, { Qt::Key_End, 0 },      { Qt::Key_Down, 0 } };
        for (const auto &step : steps) {
            QTest::keyClick(fader, step.key);
            QCOMPARE(level(fader), step.level);
            QCOMPARE(form->Panel1->text(), QString::number(step.level));
            QCOMPARE(int(form->dmxBuf[0]), step.level);
        }
        // The third fader edits channel 3 once it has the focus.
        form->ScrollBar3->setFocus();
        QTest::keyClick(form->ScrollBar3, Qt::Key_Home);
        QCOMPARE(int(form->dmxBuf[2]), 255);
        QCOMPARE(form->Panel3->text(), QString("255"));
    }

    void draggingTheThumbUpdatesThePanelAllTheWay()
    {
        showForm();
        form->Timer1->stop();
        TScrollBar *fader = form->ScrollBar5;
        QStringList seen;
        QObject::connect(fader, &QAbstractSlider::valueChanged,
                         [&] { seen << form->Panel5->text(); });
        QStyleOptionSlider option;
        option.initFrom(fader);
        option.orientation = Qt::Vertical;
        option.minimum = fader->minimum();
        option.maximum = fader->maximum();
        option.sliderPosition = fader->value();
        option.sliderValue = fader->value();
        option.pageStep = fader->pageStep();
        option.singleStep = fader->singleStep();
        const QRect thumb = fader->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                           QStyle::SC_ScrollBarSlider, fader);
        QPoint at = thumb.center();
        QTest::mousePress(fader, Qt::LeftButton, {}, at);
        for (int i = 0; i < 10; ++i) {
            at.ry() -= 10;
            QTest::mouseMove(fader, at);
        }
        QTest::mouseMove(fader, QPoint(at.x(), -50));
        QTest::mouseRelease(fader, Qt::LeftButton, {}, QPoint(at.x(), -50));
        QCOMPARE(level(fader), 255);
        QCOMPARE(form->Panel5->text(), QString("255"));
        QCOMPARE(int(form->dmxBuf[4]), 255);
        // The panel followed the thumb on the way, not only at the end.
        QVERIFY2(seen.size() > 5, qPrintable(seen.join(',')));
    }

    void everyEventReachesItsHandler()
    {
        form->Timer1->stop();
        const auto bars = scrollBars(*form);
        const auto labels = panels(*form);
        for (int k = 1; k <= 17; ++k) {
            bars[k - 1]->SetPosition(bars[k - 1]->Max() - k);
            QCOMPARE(labels[k - 1]->text(), QString::number(k));
        }
        QCOMPARE(form->percentValue, 17);
        const auto buttons = speedButtons(*form);
        for (int n = 1; n <= 32; ++n) {
            QTest::mouseClick(buttons[n - 1], Qt::LeftButton);
            QCOMPARE(form->pageTop, 16 * (n - 1));
            QCOMPARE(form->Panel18->text(), buttons[n - 1]->text());
        }
        QTest::mouseClick(form->SpeedButton33, Qt::LeftButton);
        QCOMPARE(recorder::commands(), std::vector<int32_t>({ 4 }));
        // The toggle is already down when its handler runs, so the click opens.
        QTest::mouseClick(form->SpeedButton34, Qt::LeftButton);
        QCOMPARE(recorder::commands(), std::vector<int32_t>({ 4, 1, 3 }));
        QCOMPARE(form->SpeedButton34->text(), QString("DAS OK"));
        form->Timer1->start();
        QTRY_VERIFY_WITH_TIMEOUT(recorder::commands().size() > 3, 5000);
    }

    void timerSendsTheLiveFrameTenTimesASecond()
    {
        form->ScrollBar1->SetPosition(0);
        QTRY_VERIFY_WITH_TIMEOUT(commandCount(4) >= 10, 5000);
        for (const DasRecord &call : recorder::calls()) {
            QCOMPARE(call.command, 4);
            QCOMPARE(call.length, 512);
            QCOMPARE(int(call.frame[0]), 255);
        }
        form->ScrollBar2->SetPosition(128);
        const std::size_t before = recorder::calls().size();
        QTRY_VERIFY_WITH_TIMEOUT(recorder::calls().size() > before, 5000);
        QCOMPARE(int(recorder::calls().back().frame[1]), 127);
    }
};

QTEST_MAIN(FormTest)
#include "form_test.moc"
