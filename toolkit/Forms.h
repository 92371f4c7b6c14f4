// The window toolkit's application object, form and exception over Qt Widgets.
#pragma once

#include "Controls.h"

#include <QApplication>
#include <QWidget>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// The error the program shows to the operator.
class Exception : public std::exception
{
public:
    explicit Exception(std::string Message)
        : m_message(std::move(Message))
    {
    }
    const char *what() const noexcept override { return m_message.c_str(); }
    const std::string &Message() const { return m_message; }

private:
    std::string m_message;
};

class TApplication;

// A top-level window whose controls sit at fixed places. OnCreate runs once, after the whole
// window, derived parts included, has been built.
class TForm : public QWidget
{
public:
    explicit TForm(TApplication *Owner);
    // Place and outer size, the window manager's frame included where there is one; the place gives
    // way where the window would not be whole on its screen.
    void SetBounds(int left, int top, int width, int height);
    void SetCaption(std::string_view caption);

    TNotifyEvent OnCreate;

protected:
    bool event(QEvent *event) override;

private:
    friend class TApplication;
    void fitOuterSize();
    QSize m_outerSize;
    bool m_outerSizeFitted = false;
};

// The application object: owns the Qt application and every form it creates, runs the event
// loop, and shows errors. An exception thrown by a handler stops the loop and leaves Run.
class TApplication
{
public:
    TApplication(int &argc, char **argv);
    ~TApplication();
    TApplication(const TApplication &) = delete;
    TApplication &operator=(const TApplication &) = delete;

    void Initialize();
    // Creates a form of class F into `reference`; the first one becomes the main window.
    template <class F>
    void CreateForm(F *&reference)
    {
        auto *form = new F(this);
        reference = form;
        adopt(form);
    }
    // Shows the main window and runs the event loop until it is closed.
    void Run();
    void ShowException(const Exception &error);
    void SetTitle(std::string_view title);

    TForm *MainForm() const { return m_mainForm; }

private:
    void adopt(TForm *form);

    int &m_argc;
    char **m_argv;
    std::unique_ptr<QApplication> m_qt;
    std::vector<TForm *> m_forms;
    TForm *m_mainForm = nullptr;
    QString m_title;
};

extern TApplication *Application;
