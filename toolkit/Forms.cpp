// The application object, the form and the error box.
#include "Forms.h"

#include <QMessageBox>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <xcb/xcb.h>

TApplication *Application = nullptr;

namespace {

// Qt must not see an exception leave an event handler; keep the first one and stop the loop,
// so that Run can hand it on once the loop has unwound.
class GuardedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            if (!m_pending)
                m_pending = std::current_exception();
            quit();
            return false;
        }
    }

    std::exception_ptr takePending() { return std::exchange(m_pending, nullptr); }

private:
    std::exception_ptr m_pending;
};

// The console opens at a fixed place on the screen, and only an X server lets a program place
// its own window: on a Wayland desktop that offers an X display (Xwayland) Qt is steered to it,
// with Wayland as the fallback when the display cannot be reached. A platform the user chose
// stays as it is, and the choice is not handed on to programs started from here.
std::unique_ptr<QApplication> makeApplication(int &argc, char **argv)
{
    constexpr const char *kPlatform = "QT_QPA_PLATFORM";
    if (!qEnvironmentVariableIsEmpty(kPlatform) || qEnvironmentVariableIsEmpty("DISPLAY"))
        return std::make_unique<GuardedApplication>(argc, argv);
    const bool wasSet = qEnvironmentVariableIsSet(kPlatform);
    qputenv(kPlatform, "xcb;wayland");
    auto application = std::make_unique<GuardedApplication>(argc, argv);
    if (wasSet)
        qputenv(kPlatform, "");
    else
        qunsetenv(kPlatform);
    return application;
}

template <class Reply> using XReply = std::unique_ptr<Reply, decltype(&std::free)>;

// The part of the desktop an X11 window manager leaves free of panels and docks (_NET_WORKAREA,
// the first desktop's, in device pixels), or an empty rectangle where it says none or where this
// is no X11 display.
QRect x11WorkArea()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *x = x11 ? x11->connection() : nullptr;
    if (!x)
        return {};
    constexpr std::string_view kName = "_NET_WORKAREA";
    const XReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(x, xcb_intern_atom(x, true, kName.size(), kName.data()), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const XReply<xcb_get_property_reply_t> area(
        xcb_get_property_reply(
            x, xcb_get_property(x, false, root, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr),
        &std::free);
    if (!area || area->format != 32 || xcb_get_property_value_length(area.get()) < 16)
        return {};
    const auto *at = static_cast<const uint32_t *>(xcb_get_property_value(area.get()));
    return QRect(int(at[0]), int(at[1]), int(at[2]), int(at[3]));
}

// A screen's free area: on X11 its geometry clipped by the work area, which Qt applies only where
// there is a single screen; elsewhere what Qt says is free. Qt scales a screen's device pixels
// about its top left corner.
QRect freeArea(const QScreen &screen)
{
    const QRect logical = screen.geometry();
    const qreal ratio = screen.devicePixelRatio();
    const QRect work = x11WorkArea() & QRect(logical.topLeft(), logical.size() * ratio);
    if (work.isEmpty())
        return screen.availableGeometry();
    return { logical.topLeft() + (work.topLeft() - logical.topLeft()) / ratio,
        work.size() / ratio };
}

// Where a window of this outer size goes: at the place asked wherever the whole of it fits the free
// area of the screen under that place (panels and docks left out), else the nearest place where it
// does, or that area's top left corner on a screen too small for it. Its size is never changed.
QPoint placeOnScreen(QPoint asked, QSize outer)
{
    const QScreen *screen = QGuiApplication::screenAt(asked);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return asked;
    const QRect area = freeArea(*screen);
    return { std::max(area.left(), std::min(asked.x(), area.right() + 1 - outer.width())),
        std::max(area.top(), std::min(asked.y(), area.bottom() + 1 - outer.height())) };
}

} // namespace

TForm::TForm(TApplication *)
    : QWidget(nullptr)
{
}

void TForm::SetBounds(int left, int top, int width, int height)
{
    m_outerSize = QSize(width, height);
    m_outerSizeFitted = false;
    resize(m_outerSize);
    move(placeOnScreen(QPoint(left, top), m_outerSize));
}

void TForm::SetCaption(std::string_view caption)
{
    setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
}

bool TForm::event(QEvent *event)
{
    // A window manager's frame is known only once the window is mapped; then shrink the client
    // area so that the outer size is the one asked for. Without a frame there is nothing to do.
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        if (!m_outerSizeFitted && m_outerSize.isValid())
            fitOuterSize();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void TForm::fitOuterSize()
{
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() <= 0 && frame.height() <= 0)
        return;
    m_outerSizeFitted = true;
    resize(m_outerSize - frame);
}

TApplication::TApplication(int &argc, char **argv)
    : m_argc(argc)
    , m_argv(argv)
{
}

TApplication::~TApplication()
{
    // Forms go first, while the Qt application they need still exists.
    for (auto it = m_forms.rbegin(); it != m_forms.rend(); ++it)
        delete *it;
    m_forms.clear();
}

void TApplication::Initialize()
{
    if (!m_qt)
        m_qt = makeApplication(m_argc, m_argv);
}

void TApplication::adopt(TForm *form)
{
    m_forms.push_back(form);
    if (!m_mainForm)
        m_mainForm = form;
    if (form->OnCreate)
        form->OnCreate(form);
}

void TApplication::Run()
{
    if (!m_qt || !m_mainForm)
        return;
    m_mainForm->show();
    QApplication::exec();
    if (auto pending = static_cast<GuardedApplication *>(m_qt.get())->takePending())
        std::rethrow_exception(pending);
}

void TApplication::SetTitle(std::string_view title)
{
    m_title = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

void TApplication::ShowException(const Exception &error)
{
    const QString message = QString::fromStdString(error.Message());
    if (!m_qt) {
        std::fprintf(stderr, "%s\n", error.what());
        return;
    }
    const QString title = m_title.isEmpty() ? QApplication::applicationName() : m_title;
    QMessageBox::critical(nullptr, title, message);
}
