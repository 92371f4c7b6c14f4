// A main window that fails, for the entry procedure's error path. The error box it expects is
// read and closed by a timer, and its text printed, so a script can check what the operator saw.
#pragma once

#include "Forms.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

class TForm1 : public TForm
{
public:
    explicit TForm1(TApplication *Owner)
        : TForm(Owner)
    {
        // Looks for the box every 20 ms; the box may come only after the loop has stopped.
        auto *watch = new QTimer(qApp);
        QObject::connect(watch, &QTimer::timeout, [watch, tries = 0]() mutable {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                if (++tries < 500)
                    return;
                std::printf("no error box\n");
                std::fflush(stdout);
                std::_Exit(3);
            }
            watch->stop();
            std::printf("error box: [%s]\n", qPrintable(box->text()));
            std::fflush(stdout);
            box->accept();
        });
        watch->start(20);
        const char *how = std::getenv("FAIL_HOW");
        if (how && std::strcmp(how, "exception") == 0)
            throw Exception("window creation failed");
        if (how && std::strcmp(how, "other") == 0)
            throw 42;
        // Otherwise a handler fails once the event loop runs.
        OnCreate = [](TObject *) {
            QTimer::singleShot(10, [] { throw Exception("handler failed"); });
        };
    }
};

inline TForm1 *Form1 = nullptr;
