// The real main window, driven with mouse and keyboard on the offscreen platform.
#include "window.h"

#include <memory>
#include <ranges>

class FormTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Window> w;
    TForm1 &form() { return w->form; }

private slots:
    void init() { w = std::make_unique<Window>(); }
    void cleanup() { w.reset(); }

    void startsInPlaceAtZeroOnPageOneAndTheOtherControlsReachTheirHandlers()
    {
        QCOMPARE(form().size(), QSize(628, 434)); // its place on real screens: e2e_screens
        // The rows by their ends: faders 1 and 16 under their panels, pages 1, 9 and 32.
        for (const auto &[control, place] : std::initializer_list<std::pair<QWidget *, QRect>> {
                 { w->faders[0], { 96, 144, 25, 249 } }, { w->panels[15], { 576, 120, 25, 17 } },
                 { w->faders[15], { 576, 144, 25, 249 } }, { w->faders[16], { 32, 144, 33, 249 } },
                 { w->panels[16], { 32, 120, 33, 17 } }, { w->panels[17], { 96, 8, 49, 41 } },
                 { w->buttons[0], { 152, 8, 57, 17 } }, { w->buttons[8], { 152, 32, 57, 17 } },
                 { w->buttons[31], { 544, 80, 57, 17 } }, { w->buttons[33], { 96, 56, 49, 25 } },
                 { w->buttons[32], { 3, 8, 78, 25 } } })
            QCOMPARE(control->geometry(), place);
        QVERIFY(form().SpeedButton1->Flat() && !form().SpeedButton33->Flat());
        for (int k = 1; k <= 17; ++k)
            QVERIFY(w->faders[k - 1]->Position() == w->faders[k - 1]->Max()
                && w->panels[k - 1]->text() == "0");
        QVERIFY(form().ScrollBar16->Max() == 255 && form().ScrollBar17->Max() == 100);
        QVERIFY(form().Panel18->text() == "001-016" && form().SpeedButton4->text() == "049-64");
        QVERIFY(
            form().SpeedButton33->text() == "クリア" && form().SpeedButton34->text() == "DAS起動");
        QVERIFY(form().pageTop == 0 && form().dasResult == -1 && recorder.calls.empty());
        QVERIFY(form().Timer1->Enabled() && form().Timer1->Interval() == 100);
        QCOMPARE(form().Timer1->timerType(), Qt::PreciseTimer); // a frame each 100 ms, not 95-105
        // The rows of faders and pages are walked by the invariant test; here the rest.
        form().Timer1->stop();
        recorder.calls.clear();
        form().ScrollBar17->SetPosition(63);
        QVERIFY(form().percentValue == 37 && form().Panel17->text() == "37");
        QTest::mouseClick(form().SpeedButton33, Qt::LeftButton);
        QTest::mouseClick(form().SpeedButton34, Qt::LeftButton); // down before its handler runs
        const auto commands = recorder.calls | std::views::transform(&DasRecord::command);
        QCOMPARE(std::vector<int32_t>(commands.begin(), commands.end()),
            std::vector<int32_t>({ 4, 1, 3 }));
        QCOMPARE(form().SpeedButton34->text(), QString("DAS OK"));
        form().ScrollBar2->SetPosition(0);
        form().Timer1->start();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.calls.size() >= 6, 5000);
        QCOMPARE(int(recorder.calls.back().frame[1]), 255);
    }

    // Every caption a control can show, measured in the font it really draws with, at 12 px,
    // against the area inside its frame or bevel.
    void everyCaptionIsWholeInsideItsControl()
    {
        QStringList pages, values, clipped;
        for (int level = 0; level <= 255; ++level)
            values << QString::number(level);
        const auto whole = [&](QWidget *control, const QStringList &captions) {
            const QFontMetrics font(control->font());
            const int bevel = qobject_cast<QToolButton *>(control)
                ? control->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control)
                : 0;
            const QRect inside = control->contentsRect().adjusted(bevel, bevel, -bevel, -bevel);
            for (const QString &caption : captions)
                if (font.horizontalAdvance(caption) > inside.width()
                    || font.height() > inside.height())
                    clipped << caption + " in " + QFontInfo(control->font()).family();
        };
        QCOMPARE(form().font().pixelSize(), 12);
        for (int k = 1; k <= 16; ++k)
            whole(w->panels[k - 1], values);
        for (TSpeedButton *page : w->buttons.mid(0, 32))
            whole(page, { pages.emplace_back(page->text()) });
        whole(form().Panel17, values.mid(0, 101));
        whole(form().Panel18, pages);
        whole(form().SpeedButton33, { "クリア" });
        whole(form().SpeedButton34, { "DAS起動", "DAS OK", "DAS NG", "DAS OFF" });
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(", ")));
    }

    void focusStartsOnFader1TabLeavesTheThirdLastPagesNeverTakeItAndADragShowsEveryStep()
    {
        QVERIFY(w->show());
        QCOMPARE(QApplication::focusWidget(), form().ScrollBar1);
        for (int k : { 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 3, 1 }) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), w->faders[k - 1]);
        }
        QTest::mouseClick(form().SpeedButton2, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), form().ScrollBar1);
        QStringList seen;
        connect(form().ScrollBar5, &QAbstractSlider::valueChanged,
            [&] { seen << form().Panel5->text(); });
        drag(form().ScrollBar5, 10, -50);
        QVERIFY2(seen.size() > 5 && seen.last() == "255", qPrintable(seen.join(',')));
        QCOMPARE(int(form().dmxBuf[20]), 255); // fader 5 of page 2
    }
};

QTEST_MAIN(FormTest)
#include "form_test.moc"
