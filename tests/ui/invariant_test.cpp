// Random operator input on the real window, checked against an independent model of the 512
// levels and the toggle's caption: after every event each fader, its panel and the frame agree
// with the model, and every frame handed to the output library equals it. Seeded (set
// BRIVANE_INVARIANT_SEED to replay); a failure names the seed and the step.
#include "Unit1.h"
#include "recording_das.h"

#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>
#include <array>
#include <random>

namespace {

constexpr int kSteps = 100'000;

// What the operator's actions mean, kept without looking at the window.
struct Model
{
    std::array<uint8_t, 512> levels {};
    int pageTop = 0;
    bool down = false;
    bool opened = false; // the last open succeeded
    QString caption = QStringLiteral("DAS起動");
};

void dragToEnd(TScrollBar *fader, bool top)
{
    QStyleOptionSlider option;
    option.initFrom(fader);
    option.orientation = Qt::Vertical;
    option.maximum = fader->maximum();
    option.sliderPosition = option.sliderValue = fader->value();
    const QPoint thumb
        = fader->style()
              ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, fader)
              .center();
    // Past the end of the groove, straight along it.
    const QPoint beyond(thumb.x(), top ? -50 : fader->height() + 50);
    QTest::mousePress(fader, Qt::LeftButton, {}, thumb);
    QTest::mouseMove(fader, beyond);
    QTest::mouseRelease(fader, Qt::LeftButton, {}, beyond);
}

} // namespace

class InvariantTest : public QObject
{
    Q_OBJECT

private slots:
    void randomInputKeepsFadersFrameAndWireOnTheModel()
    {
        const QByteArray seedText = qgetenv("BRIVANE_INVARIANT_SEED");
        const unsigned seed = seedText.isEmpty() ? 1u : seedText.toUInt();
        qInfo("seed %u, %d steps", seed, kSteps);
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };

        recorder::reset();
        TForm1 form(nullptr);
        Form1 = &form;
        form.OnCreate(&form);
        form.Timer1->stop(); // ticks come only from the sequence
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const std::array<TScrollBar *, 16> faders { form.ScrollBar1, form.ScrollBar2,
            form.ScrollBar3, form.ScrollBar4, form.ScrollBar5, form.ScrollBar6, form.ScrollBar7,
            form.ScrollBar8, form.ScrollBar9, form.ScrollBar10, form.ScrollBar11, form.ScrollBar12,
            form.ScrollBar13, form.ScrollBar14, form.ScrollBar15, form.ScrollBar16 };
        const std::array<TPanel *, 16> panels { form.Panel1, form.Panel2, form.Panel3, form.Panel4,
            form.Panel5, form.Panel6, form.Panel7, form.Panel8, form.Panel9, form.Panel10,
            form.Panel11, form.Panel12, form.Panel13, form.Panel14, form.Panel15, form.Panel16 };
        const std::array<TSpeedButton *, 32> pages { form.SpeedButton1, form.SpeedButton2,
            form.SpeedButton3, form.SpeedButton4, form.SpeedButton5, form.SpeedButton6,
            form.SpeedButton7, form.SpeedButton8, form.SpeedButton9, form.SpeedButton10,
            form.SpeedButton11, form.SpeedButton12, form.SpeedButton13, form.SpeedButton14,
            form.SpeedButton15, form.SpeedButton16, form.SpeedButton17, form.SpeedButton18,
            form.SpeedButton19, form.SpeedButton20, form.SpeedButton21, form.SpeedButton22,
            form.SpeedButton23, form.SpeedButton24, form.SpeedButton25, form.SpeedButton26,
            form.SpeedButton27, form.SpeedButton28, form.SpeedButton29, form.SpeedButton30,
            form.SpeedButton31, form.SpeedButton32 };

        Model model;
        std::size_t seen = 0; // recorder calls already compared
        QString done;
        const auto problem = [&]() -> QString {
            for (; seen < recorder::calls().size(); ++seen) {
                const DasRecord &call = recorder::calls()[seen];
                if (call.command == 4 && (call.length != 512 || call.frame != model.levels))
                    return "a frame sent differs from the model";
            }
            if (form.pageTop != model.pageTop)
                return QString::asprintf("page top %d", form.pageTop);
            for (int k = 1; k <= 16; ++k) {
                const int level = 255 - faders[k - 1]->Position();
                const int channel = model.pageTop + k - 1;
                if (panels[k - 1]->text() != QString::number(level) || form.dmxBuf[channel] != level
                    || model.levels[channel] != level)
                    return QString::asprintf("fader %d: panel %s, level %d, frame %d, model %d", k,
                        qPrintable(panels[k - 1]->text()), level, form.dmxBuf[channel],
                        model.levels[channel]);
            }
            if (!std::equal(model.levels.begin(), model.levels.end(), form.dmxBuf))
                return "a channel off the page changed";
            if (form.SpeedButton34->text() != model.caption)
                return "caption " + form.SpeedButton34->text() + ", expected " + model.caption;
            return {};
        };

        for (int step = 1; step <= kSteps; ++step) {
            const int k = pick(1, 16);
            TScrollBar *fader = faders[k - 1];
            uint8_t &level = model.levels[model.pageTop + k - 1];
            switch (pick(0, 7)) {
            case 0: {
                const int position = pick(0, 255);
                fader->SetPosition(position);
                level = uint8_t(255 - position);
                done = QString::asprintf("fader %d set to position %d", k, position);
                break;
            }
            case 1:
            case 2: {
                // One step up or down, or all the way: Home is full, End is zero.
                static constexpr std::pair<Qt::Key, int> kKeys[]
                    = { { Qt::Key_Up, 1 }, { Qt::Key_Down, -1 }, { Qt::Key_PageUp, 1 },
                          { Qt::Key_PageDown, -1 }, { Qt::Key_Home, 255 }, { Qt::Key_End, -255 } };
                const auto [key, change] = kKeys[pick(0, 5)];
                fader->setFocus();
                QTest::keyClick(fader, key);
                level = uint8_t(std::clamp(level + change, 0, 255));
                done = QString::asprintf("key %x on fader %d", key, k);
                break;
            }
            case 3: {
                const bool top = pick(0, 1);
                dragToEnd(fader, top);
                level = top ? 255 : 0;
                done = QString::asprintf("fader %d dragged to the %s", k, top ? "top" : "bottom");
                break;
            }
            case 4: {
                const int n = pick(1, 32);
                QTest::mouseClick(pages[n - 1], Qt::LeftButton);
                model.pageTop = 16 * (n - 1);
                done = QString::asprintf("page %d", n);
                break;
            }
            case 5:
                if (pick(0, 9) == 0) {
                    QTest::mouseClick(form.SpeedButton33, Qt::LeftButton);
                    model.levels.fill(0);
                    done = "Clear";
                } else {
                    form.ScrollBar17->SetPosition(pick(0, 100)); // changes no channel
                    done = "the 0-100 fader";
                }
                break;
            case 6: {
                const bool opens = pick(0, 1);
                recorder::setResult(1, opens ? 0 : -6);
                QTest::mouseClick(form.SpeedButton34, Qt::LeftButton);
                model.down = !model.down;
                model.opened = model.down && opens;
                model.caption = !model.down ? "DAS OFF" : opens ? "DAS OK" : "DAS NG";
                done = "toggle, now " + model.caption;
                break;
            }
            default: {
                const bool sent = pick(0, 7) != 0;
                recorder::setResult(4, sent ? 0 : -4);
                form.Timer1Timer(form.Timer1);
                if (!sent && model.opened)
                    model.caption = "DAS NG";
                done = sent ? "tick" : "tick, send fails";
            }
            }
            if (const QString wrong = problem(); !wrong.isEmpty())
                QFAIL(qPrintable(QString::asprintf("seed %u step %d after %s: %s", seed, step,
                    qPrintable(done), qPrintable(wrong))));
            if (step % 1000 == 0) {
                QCoreApplication::processEvents(); // lets the window paint now and then
                seen = 0;
                recorder::reset();
            }
        }
        Form1 = nullptr;
        recorder::reset();
    }
};

QTEST_MAIN(InvariantTest)
#include "invariant_test.moc"
