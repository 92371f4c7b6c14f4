// The output window on the offscreen platform: whole at 800×480 with every caption whole, every
// control reached by Tab in reading order, and each kind's numbers within the library's ranges.
#include "output_kind.h"
#include "output_window.h"

#include <QtTest>
#include <QtWidgets>

class OutputWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<OutputWindow> w;
    template <class T> T *named(const char *name) { return w->findChild<T *>(name); }
    // Shows each kind in turn, for `look` to see it.
    void eachKind(const std::function<void(const das::KindForm &)> &look)
    {
        for (const das::KindForm &form : das::kindForms()) {
            named<QComboBox>("kind")->setCurrentIndex(int(&form - das::kindForms().data()));
            look(form);
        }
    }

private slots:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_home.filePath("none").toUtf8());
        qunsetenv("DASHARD_OUTPUT");
        w = std::make_unique<OutputWindow>();
        w->resize(800, 480);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_VERIFY(named<QListWidget>("targets")->count() > 0); // the list is made
    }
    void cleanup() { w.reset(); }

    // Measured as the console's captions are: in the font each control draws with, against the
    // room inside it; the kinds' names in the kind list, and each kind's captions and hints.
    void wholeAt800x480WithEveryCaptionWhole()
    {
        QVERIFY2(w->minimumSizeHint().boundedTo({ 800, 400 }) == w->minimumSizeHint(),
            qPrintable(QString("needs %1×%2")
                           .arg(w->minimumSizeHint().width())
                           .arg(w->minimumSizeHint().height())));
        QStringList clipped;
        const auto whole = [&](QWidget *control, const QString &text, int room) {
            if (control->fontMetrics().horizontalAdvance(QString(text).remove('&')) > room)
                clipped << text;
        };
        auto *kind = named<QComboBox>("kind");
        QStyleOptionComboBox option;
        option.initFrom(kind);
        const int inCombo
            = kind->style()
                  ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, kind)
                  .width();
        eachKind([&](const das::KindForm &form) {
            whole(kind, kind->currentText(), inCombo);
            for (QLabel *label : w->findChildren<QLabel *>())
                if (!label->wordWrap())
                    whole(label, label->text(), label->contentsRect().width());
            for (QLineEdit *edit : w->findChildren<QLineEdit *>())
                whole(edit, edit->placeholderText(), edit->contentsRect().width() - 8);
            (void)form;
        });
        for (QPushButton *button : w->findChildren<QPushButton *>())
            if (button->sizeHint().width() > button->width())
                clipped << button->text();
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(", ")));
    }

    void tabReachesEveryControlInReadingOrder()
    {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        named<QWidget>("targets")->setFocus();
        QStringList seen;
        for (int i = 0; i < 14; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
            seen << QApplication::focusWidget()->objectName();
        QCOMPARE(seen.join(' '),
            "targets lookAgain kind host interface universe setting check scan use close report "
            "targets lookAgain");
    }

    // Each kind's number, and priority, run exactly over what the library takes.
    void numbersWithinTheLibrarysRanges()
    {
        const auto takes = [](const das::KindForm &form, const std::string &rest, double n) {
            std::string why;
            const std::string number = QString::number(n, 'f', 0).toStdString();
            return bool(das::parseOutputConfig(std::string(form.kind) + rest + number, why));
        };
        eachKind([&](const das::KindForm &form) {
            for (const auto &[box, rest] : { std::pair<QAbstractSpinBox *, std::string>(
                                                 named<QDoubleSpinBox>("universe"), "@"),
                     { named<QSpinBox>("priority"), "@1,priority=" } }) {
                const double low = box->property("minimum").toDouble(),
                             high = box->property("maximum").toDouble();
                const QString row = QString::fromUtf8(form.kind) + rest.c_str();
                QVERIFY2(box->isEnabled() == takes(form, rest, high), qPrintable(row));
                QVERIFY2(!box->isEnabled()
                        || (takes(form, rest, low) && !takes(form, rest, low - 1)
                            && !takes(form, rest, high + 1)),
                    qPrintable(row));
            }
        });
    }
};

QTEST_MAIN(OutputWindowTest)
#include "output_window_test.moc"
