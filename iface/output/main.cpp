// brivane-output: the window in which the operator chooses, checks and saves the DMX output.
#include "output_window.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setDesktopFileName("brivane-output");
    QApplication::setWindowIcon(QIcon::fromTheme("brivane-output"));
    OutputWindow window;
    window.showOnScreen();
    window.exec();
    return 0;
}
