// The floor for the desktop benchmark: the least a Qt 6 Widgets window with the console's
// seventeen scroll bars and its 100 ms timer costs, with no console logic and no output.
#include <QApplication>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <array>

namespace {

// Placed beside the console's window rather than over it, so that clicks and keyboard focus meant
// for the console never land here when both run on one X server.
constexpr int kLeft = 1000, kTop = 0, kWidth = 628, kHeight = 434;
constexpr int kFaders = 16;

// Where each tick leaves its result; volatile so the reads are not optimised away.
volatile unsigned long long g_levelSum = 0;

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Brivane floor"));
    window.setGeometry(kLeft, kTop, kWidth, kHeight);

    std::array<QScrollBar *, kFaders + 1> bars {};
    for (int k = 0; k <= kFaders; ++k) {
        auto *bar = new QScrollBar(Qt::Vertical, &window);
        bar->setRange(0, 255);
        bar->setValue(255);
        // Sixteen narrow bars in a row and one wide one on the left, as on the console.
        if (k < kFaders)
            bar->setGeometry(96 + 32 * k, 144, 25, 249);
        else
            bar->setGeometry(32, 144, 33, 249);
        bars[std::size_t(k)] = bar;
    }

    // The same kind of timer as the console's; each tick only reads the bars and sums them.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&bars] {
        unsigned long long sum = 0;
        for (const QScrollBar *bar : bars)
            sum += unsigned(bar->value());
        g_levelSum = sum;
    });
    timer.start();

    window.show();
    return QApplication::exec();
}
