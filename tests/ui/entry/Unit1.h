// A main window that fails as FAIL_HOW says, for the entry procedure's error path. A timer prints
// the error box's text and closes it, so a script sees what the operator saw.
#pragma once

#include "Forms.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdio>

class TForm1 : public TForm
{
public:
    explicit TForm1(TApplication *Owner)
        : TForm(Owner)
    {
        auto *watch = new QTimer(qApp); // the box may come only after the loop has stopped
        QObject::connect(watch, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                std::printf("error box: [%s]\n", qPrintable(box->text()));
                box->accept();
            }
        });
        watch->start(20);
        if (qgetenv("FAIL_HOW") == "exception")
            throw Exception("window creation failed");
        if (qgetenv("FAIL_HOW") == "other")
            throw 42;
        OnCreate
            = [](TObject *) { QTimer::singleShot(10, [] { throw Exception("handler failed"); }); };
    }
};

inline TForm1 *Form1 = nullptr;
