#include "platform/x11/X11HotkeyGrab.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace
{

// Xlib reports a refused grab through its global error handler.
bool grabRefused = false;
int noteRefusal(Display *, XErrorEvent *error)
{
    if (error->error_code == BadAccess)
        grabRefused = true;
    return 0;
}

// The lock modifiers a user may have on: the grab must match with any of them.
constexpr unsigned numLock = Mod2Mask;
constexpr unsigned lockCombinations[] = { 0, LockMask, numLock, LockMask | numLock };

} // namespace

X11HotkeyGrab::X11HotkeyGrab(std::function<void()> onPressed, QObject *parent)
    : QObject(parent)
    , m_onPressed(std::move(onPressed))
{
}

X11HotkeyGrab::~X11HotkeyGrab()
{
    release();
    m_notifier.reset();
    if (m_display)
        XCloseDisplay(m_display);
}

bool X11HotkeyGrab::grab(unsigned long keysym, unsigned modifiers)
{
    release();
    if (!m_display) {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return false;
        // Holding the keys must not toggle dictation on and off: with this, a
        // held key repeats presses only, which the down flag filters.
        XkbSetDetectableAutoRepeat(m_display, True, nullptr);
        m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(m_display), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotkeyGrab::drain);
        // Events read during a round trip sit in Xlib's queue and never wake
        // the notifier.
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &X11HotkeyGrab::drain);
    }
    // Every key that gives the keysym: another program may have put it on a
    // spare key too (ours does, for characters a layout lacks), and the one
    // XKeysymToKeycode names need not be the one the user presses.
    int minKeycode = 0, maxKeycode = 0;
    XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
    QList<unsigned> keycodes;
    for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode)
        if (XkbKeycodeToKeysym(m_display, KeyCode(keycode), 0, 0) == KeySym(keysym))
            keycodes << unsigned(keycode);
    if (keycodes.isEmpty())
        return false;

    const Window root = DefaultRootWindow(m_display);
    XSync(m_display, False);
    grabRefused = false;
    XErrorHandler previous = XSetErrorHandler(noteRefusal);
    for (unsigned keycode : std::as_const(keycodes))
        for (unsigned locks : lockCombinations)
            XGrabKey(m_display, int(keycode), modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
    XSync(m_display, False);
    XSetErrorHandler(previous);
    m_keycodes = keycodes;
    m_modifiers = modifiers;
    if (grabRefused) {
        release();
        return false;
    }
    drain();
    return true;
}

void X11HotkeyGrab::release()
{
    if (!m_display || m_keycodes.isEmpty())
        return;
    const Window root = DefaultRootWindow(m_display);
    for (unsigned keycode : std::as_const(m_keycodes))
        for (unsigned locks : lockCombinations)
            XUngrabKey(m_display, int(keycode), m_modifiers | locks, root);
    XFlush(m_display);
    m_keycodes.clear();
    m_down = false;
}

void X11HotkeyGrab::drain()
{
    if (!m_display)
        return;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        const bool ours = m_keycodes.contains(event.xkey.keycode);
        if (event.type == KeyRelease && ours) {
            m_down = false;
        } else if (event.type == KeyPress && ours && !m_down) {
            m_down = true;
            if (m_onPressed)
                QMetaObject::invokeMethod(this, m_onPressed, Qt::QueuedConnection);
        }
    }
}
