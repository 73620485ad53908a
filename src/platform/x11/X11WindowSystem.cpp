#include "platform/x11/X11WindowSystem.h"

#include "common/Log.h"
#include "platform/SessionInfo.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace
{

// _NET_WM_DESKTOP value meaning "every desktop".
constexpr unsigned long allDesktops = 0xFFFFFFFF;
// _NET_WM_STATE client message action.
constexpr long netWmStateAdd = 1;

Display *qtDisplay()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

void sendToRoot(Display *display, Window window, Atom type, long a0, long a1, long a2)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = a0;
    event.xclient.data.l[1] = a1;
    event.xclient.data.l[2] = a2;
    event.xclient.data.l[3] = 1; // source indication: a normal application
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
        &event);
}

} // namespace

std::unique_ptr<WindowSystem> WindowSystem::create(const SessionInfo &session)
{
    if (Display *display = qtDisplay())
        return std::make_unique<X11WindowSystem>(display, !session.isWayland());
    qCInfo(lcApp).noquote() << QStringLiteral(
        "ℹ️ [App] No X11 display: windows keep the window manager's defaults");
    return std::make_unique<NullWindowSystem>();
}

X11WindowSystem::X11WindowSystem(Display *display, bool knowsPointer)
    : m_display(display)
    , m_knowsPointer(knowsPointer)
{
}

bool X11WindowSystem::isCompositing() const
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(m_display));
    const Atom selection = XInternAtom(m_display, name.constData(), False);
    return XGetSelectionOwner(m_display, selection) != None;
}

void X11WindowSystem::setOnAllDesktops(QWindow *window)
{
    const Window id = Window(window->winId());
    const Atom desktop = XInternAtom(m_display, "_NET_WM_DESKTOP", False);
    const Atom state = XInternAtom(m_display, "_NET_WM_STATE", False);
    const Atom sticky = XInternAtom(m_display, "_NET_WM_STATE_STICKY", False);
    if (window->isVisible()) {
        // A mapped window belongs to the window manager: ask it.
        sendToRoot(m_display, id, desktop, long(allDesktops), 0, 0);
        sendToRoot(m_display, id, state, netWmStateAdd, long(sticky), 0);
    } else {
        // Before mapping the properties are ours to set; Qt merges its own
        // _NET_WM_STATE atoms into what it finds there when it maps the window.
        unsigned long value = allDesktops;
        XChangeProperty(m_display, id, desktop, XA_CARDINAL, 32, PropModeReplace,
            reinterpret_cast<unsigned char *>(&value), 1);
        Atom atoms[] = { sticky };
        XChangeProperty(
            m_display, id, state, XA_ATOM, 32, PropModeAppend, reinterpret_cast<unsigned char *>(atoms), 1);
    }
    XFlush(m_display);
}

WindowSystem::WindowId X11WindowSystem::focusedWindow() const
{
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus(m_display, &focus, &revertTo);
    if (focus == None || focus == PointerRoot || focus == DefaultRootWindow(m_display))
        return 0;
    return WindowId(focus);
}

void X11WindowSystem::restoreFocus(WindowId window)
{
    if (window == 0)
        return;
    // A window that was destroyed meanwhile would raise BadWindow; the
    // attributes request tells first, without an error handler.
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_display, Window(window), &attributes) || attributes.map_state != IsViewable)
        return;
    XSetInputFocus(m_display, Window(window), RevertToParent, CurrentTime);
    XFlush(m_display);
}
