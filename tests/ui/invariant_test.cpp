// Random operator input on the real window against a model of the 512 levels, the page and the
// toggle's caption: after every event each fader, its panel, the page label, the frame and every
// frame handed to the output library agree with the model. BRIVANE_INVARIANT_SEED replays a seed.
#include "window.h"

#include <array>
#include <random>

class InvariantTest : public QObject
{
    Q_OBJECT

private slots:
    void randomInputKeepsFadersFrameAndWireOnTheModel()
    {
        const unsigned seed = qEnvironmentVariableIntValue("BRIVANE_INVARIANT_SEED");
        std::mt19937 random(seed);
        const auto pick
            = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
        Window w;
        TForm1 &form = w.form;
        form.Timer1->stop(); // ticks come only from the sequence
        QVERIFY(w.show());
        std::array<uint8_t, 512> levels {};
        int page = 1;
        bool opened = false;
        QString caption = "DAS起動";
        for (int step = 1; step <= 100'000; ++step) {
            const int k = pick(1, 16);
            TScrollBar *fader = w.faders[k - 1];
            uint8_t &level = levels[16 * (page - 1) + k - 1];
            switch (pick(0, 7)) {
            case 0:
                level = uint8_t(pick(0, 255));
                fader->SetPosition(255 - level);
                break;
            case 1:
            case 2: { // a key step: Home is full, End is zero
                static constexpr std::pair<Qt::Key, int> kKeys[]
                    = { { Qt::Key_Up, 1 }, { Qt::Key_Down, -1 }, { Qt::Key_PageUp, 1 },
                          { Qt::Key_PageDown, -1 }, { Qt::Key_Home, 255 }, { Qt::Key_End, -255 } };
                const auto [key, change] = kKeys[pick(0, 5)];
                fader->setFocus();
                QTest::keyClick(fader, key);
                level = uint8_t(std::clamp(level + change, 0, 255));
                break;
            }
            case 3:
                level = pick(0, 1) ? 255 : 0;
                drag(fader, 0, level ? -50 : fader->height() + 50);
                break;
            case 4:
                QTest::mouseClick(w.buttons[(page = pick(1, 32)) - 1], Qt::LeftButton);
                break;
            case 5:
                if (pick(0, 9) == 0) {
                    QTest::mouseClick(form.SpeedButton33, Qt::LeftButton);
                    levels.fill(0);
                } else
                    form.ScrollBar17->SetPosition(pick(0, 100)); // changes no channel
                break;
            case 6: {
                const bool opens = pick(0, 1), down = !form.SpeedButton34->Down();
                recorder.results[1] = opens ? 0 : -6;
                QTest::mouseClick(form.SpeedButton34, Qt::LeftButton);
                opened = down && opens;
                caption = !down ? "DAS OFF" : opens ? "DAS OK" : "DAS NG";
                break;
            }
            default:
                recorder.results[4] = pick(0, 7) ? 0 : -4;
                form.Timer1Timer(form.Timer1);
                caption = recorder.results[4] && opened ? "DAS NG" : caption;
            }
            QString wrong; // what differs from the model
            for (const DasRecord &call : recorder.calls)
                if (call.command == 4 && (call.length != 512 || call.frame != levels))
                    wrong = "a frame sent";
            for (int f = 1; f <= 16; ++f) {
                const int shown = 255 - w.faders[f - 1]->Position();
                if (w.panels[f - 1]->text() != QString::number(shown)
                    || levels[16 * (page - 1) + f - 1] != shown)
                    wrong = QString("fader %1 or its panel").arg(f);
            }
            if (!std::equal(levels.begin(), levels.end(), form.dmxBuf))
                wrong = "the frame";
            if (form.Panel18->text() != w.buttons[page - 1]->text()
                || form.SpeedButton34->text() != caption)
                wrong = "the page label or the toggle's caption";
            QVERIFY2(wrong.isEmpty(),
                qPrintable(QString("seed %1, step %2: %3").arg(seed).arg(step).arg(wrong)));
            recorder.calls.clear();
            if (step % 1000 == 0)
                QCoreApplication::processEvents(); // lets the window paint now and then
        }
    }
};

QTEST_MAIN(InvariantTest)
#include "invariant_test.moc"
