#include "platform/x11/X11KeyMonitor.h"

#include "common/Log.h"
#include "platform/SyntheticKeyLog.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace
{

struct KeyPosition {
    unsigned xKeycode;
    quint16 ansiKeyCode;
};

// The main block of a US-ANSI keyboard: X key code under evdev, and the
// position code the rest of the program names keys by.
constexpr KeyPosition keyPositions[] = {
    { 9, 53 },
    { 10, 18 },
    { 11, 19 },
    { 12, 20 },
    { 13, 21 },
    { 14, 23 },
    { 15, 22 },
    { 16, 26 },
    { 17, 28 },
    { 18, 25 },
    { 19, 29 },
    { 20, 27 },
    { 21, 24 },
    { 22, 51 },
    { 23, 48 },
    { 24, 12 },
    { 25, 13 },
    { 26, 14 },
    { 27, 15 },
    { 28, 17 },
    { 29, 16 },
    { 30, 32 },
    { 31, 34 },
    { 32, 31 },
    { 33, 35 },
    { 34, 33 },
    { 35, 30 },
    { 36, 36 },
    { 37, 59 },
    { 38, 0 },
    { 39, 1 },
    { 40, 2 },
    { 41, 3 },
    { 42, 5 },
    { 43, 4 },
    { 44, 38 },
    { 45, 40 },
    { 46, 37 },
    { 47, 41 },
    { 48, 39 },
    { 49, 50 },
    { 50, 56 },
    { 51, 42 },
    { 52, 6 },
    { 53, 7 },
    { 54, 8 },
    { 55, 9 },
    { 56, 11 },
    { 57, 45 },
    { 58, 46 },
    { 59, 43 },
    { 60, 47 },
    { 61, 44 },
    { 62, 60 },
    { 64, 58 },
    { 65, 49 },
    { 66, 57 },
    { 94, 10 },
    { 105, 62 },
    { 108, 61 },
    { 133, 55 },
    { 134, 54 },
};

quint32 roleOfKeysym(KeySym sym, bool &ignored)
{
    switch (sym) {
    case XK_Shift_L:
    case XK_Shift_R:
        return KeyModifier::shift;
    case XK_Caps_Lock:
    case XK_Shift_Lock:
        return KeyModifier::capsLock;
    case XK_Control_L:
    case XK_Control_R:
        return KeyModifier::control;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
        return KeyModifier::alt;
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R:
        return KeyModifier::super;
    case XK_ISO_Level3_Shift:
    case XK_ISO_Level3_Latch:
    case XK_ISO_Level3_Lock:
    case XK_ISO_Level5_Shift:
    case XK_ISO_Level5_Latch:
    case XK_ISO_Level5_Lock:
    case XK_Mode_switch:
        return KeyModifier::altGr;
    case XK_Num_Lock:
    case XK_Scroll_Lock:
        // Num Lock is on by default on many desktops; it changes what the
        // keypad types and nothing else, so it must not block shortcuts.
        ignored = true;
        return 0;
    default:
        return 0;
    }
}

constexpr unsigned long keyboardEvents
    = XkbStateNotifyMask | XkbMapNotifyMask | XkbNewKeyboardNotifyMask | XkbControlsNotifyMask;

} // namespace

X11KeyMonitor::X11KeyMonitor(SyntheticKeyLog &syntheticKeys, QObject *parent)
    : QObject(parent)
    , m_syntheticKeys(syntheticKeys)
{
    m_repeatTimer.setTimerType(Qt::PreciseTimer);
    m_repeatTimer.setSingleShot(true);
    connect(&m_repeatTimer, &QTimer::timeout, this, &X11KeyMonitor::repeatHeldKey);
    m_modifierRoles = { KeyModifier::shift, KeyModifier::capsLock, KeyModifier::control, KeyModifier::alt, 0,
        KeyModifier::other, KeyModifier::super, KeyModifier::altGr };
}

X11KeyMonitor::~X11KeyMonitor()
{
    disconnectFromDisplay();
}

quint16 X11KeyMonitor::ansiKeyCode(unsigned xKeycode)
{
    for (const KeyPosition &position : keyPositions) {
        if (position.xKeycode == xKeycode)
            return position.ansiKeyCode;
    }
    return KeyEvent::noKeyCode;
}

std::optional<KeyMonitor::Handle> X11KeyMonitor::addGlobalMonitor(Handler handler)
{
    if (!m_display && !connectToDisplay())
        return std::nullopt;
    m_disconnectPending = false;
    const Handle handle = m_nextHandle++;
    m_handlers.emplace(handle, std::move(handler));
    return handle;
}

void X11KeyMonitor::removeMonitor(Handle handle)
{
    m_handlers.erase(handle);
    if (!m_handlers.empty())
        return;
    // A handler may remove its own monitor while events are being read.
    if (m_draining)
        m_disconnectPending = true;
    else
        disconnectFromDisplay();
}

bool X11KeyMonitor::connectToDisplay()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        qCWarning(lcApp).noquote() << QStringLiteral(
            "⚠️ Key monitor unavailable: cannot open the X display");
        return false;
    }
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_xiOpcode, &event, &error)
        || XIQueryVersion(display, &major, &minor) != Success) {
        qCWarning(lcApp).noquote() << QStringLiteral(
            "⚠️ Key monitor unavailable: the X server lacks XInput 2");
        XCloseDisplay(display);
        return false;
    }
    int xkbOpcode = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &m_xkbEventBase, &error, &xkbMajor, &xkbMinor)) {
        qCWarning(lcApp).noquote() << QStringLiteral(
            "⚠️ Key monitor unavailable: the X server lacks XKB");
        XCloseDisplay(display);
        return false;
    }
    m_display = display;

    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
    XIEventMask eventMask { XIAllMasterDevices, int(sizeof mask), mask };
    XISelectEvents(display, DefaultRootWindow(display), &eventMask, 1);
    // Keyboards plugged in later (another master) need their own XKB state.
    unsigned char hierarchyMask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(hierarchyMask, XI_HierarchyChanged);
    XIEventMask hierarchy { XIAllDevices, int(sizeof hierarchyMask), hierarchyMask };
    XISelectEvents(display, DefaultRootWindow(display), &hierarchy, 1);

    refreshModifierRoles();
    refreshRepeatControls();
    m_keyboardModifiers.clear();
    int deviceCount = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllMasterDevices, &deviceCount);
    for (int i = 0; i < deviceCount; ++i) {
        if (devices[i].use == XIMasterKeyboard)
            watchKeyboard(devices[i].deviceid);
    }
    XIFreeDeviceInfo(devices);
    XSync(display, False);

    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11KeyMonitor::drainEvents);
    // Replies to our own round-trips can pull events into Xlib's queue
    // without the socket ever becoming readable again; look there before the
    // event loop sleeps.
    if (auto *dispatcher = QAbstractEventDispatcher::instance(thread())) {
        m_aboutToBlock = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (m_display && XEventsQueued(m_display, QueuedAlready) > 0)
                drainEvents();
        });
    }
    drainEvents();
    return true;
}

void X11KeyMonitor::disconnectFromDisplay()
{
    m_disconnectPending = false;
    m_repeatTimer.stop();
    m_repeatKey = 0;
    disconnect(m_aboutToBlock);
    delete m_notifier;
    m_notifier = nullptr;
    if (m_display) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
}

void X11KeyMonitor::watchKeyboard(int deviceId)
{
    XkbSelectEvents(m_display, unsigned(deviceId), keyboardEvents, keyboardEvents);
    XkbStateRec state {};
    XkbGetState(m_display, unsigned(deviceId), &state);
    m_keyboardModifiers[deviceId] = state.mods;
}

void X11KeyMonitor::refreshModifierRoles()
{
    XkbDescPtr keymap = XkbGetMap(m_display, XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (!keymap)
        return;
    std::array<quint32, 8> roles {};
    std::array<bool, 8> ignored {};
    for (int keycode = keymap->min_key_code; keycode <= keymap->max_key_code; ++keycode) {
        const unsigned char modifiers = keymap->map->modmap[keycode];
        if (!modifiers)
            continue;
        const int symbolCount = XkbKeyNumSyms(keymap, keycode);
        const KeySym *symbols = XkbKeySymsPtr(keymap, keycode);
        for (int bit = 0; bit < 8; ++bit) {
            if (!(modifiers & (1 << bit)))
                continue;
            bool keyIgnored = false;
            for (int i = 0; i < symbolCount; ++i)
                roles[bit] |= roleOfKeysym(symbols[i], keyIgnored);
            ignored[bit] = ignored[bit] || keyIgnored;
        }
    }
    XkbFreeKeyboard(keymap, 0, True);
    // Shift, Lock and Control keep their meaning whatever keys sit on them.
    m_modifierRoles[0] = KeyModifier::shift;
    m_modifierRoles[1] = KeyModifier::capsLock;
    m_modifierRoles[2] = KeyModifier::control;
    for (int bit = 3; bit < 8; ++bit)
        m_modifierRoles[bit] = roles[bit] ? roles[bit] : (ignored[bit] ? 0u : quint32(KeyModifier::other));
}

void X11KeyMonitor::refreshRepeatControls()
{
    XkbDescPtr keyboard = XkbAllocKeyboard();
    if (!keyboard)
        return;
    if (XkbGetControls(m_display, XkbRepeatKeysMask | XkbPerKeyRepeatMask | XkbControlsEnabledMask, keyboard)
            == Success
        && keyboard->ctrls) {
        m_repeatEnabled = keyboard->ctrls->enabled_ctrls & XkbRepeatKeysMask;
        m_repeatDelayMs = keyboard->ctrls->repeat_delay;
        m_repeatIntervalMs = qMax(1, int(keyboard->ctrls->repeat_interval));
        std::copy(std::begin(keyboard->ctrls->per_key_repeat), std::end(keyboard->ctrls->per_key_repeat),
            m_perKeyRepeat.begin());
    }
    XkbFreeKeyboard(keyboard, XkbAllComponentsMask, True);
}

quint32 X11KeyMonitor::modifierFlags(int deviceId) const
{
    const auto found = m_keyboardModifiers.find(deviceId);
    const unsigned modifiers = found == m_keyboardModifiers.end() ? 0 : found->second;
    quint32 flags = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (modifiers & (1u << bit))
            flags |= m_modifierRoles[size_t(bit)];
    }
    return flags;
}

void X11KeyMonitor::drainEvents()
{
    if (!m_display || m_draining)
        return;
    m_draining = true;
    while (m_display && !m_disconnectPending && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        handleEvent(event);
    }
    m_draining = false;
    if (m_disconnectPending)
        disconnectFromDisplay();
}

void X11KeyMonitor::handleEvent(XEvent &event)
{
    if (event.type == GenericEvent && event.xcookie.extension == m_xiOpcode) {
        if (!XGetEventData(m_display, &event.xcookie))
            return;
        const int type = event.xcookie.evtype;
        if (type == XI_HierarchyChanged) {
            const auto *change = static_cast<const XIHierarchyEvent *>(event.xcookie.data);
            std::vector<int> added;
            m_isXTestSource.clear();
            for (int i = 0; i < change->num_info; ++i) {
                const XIHierarchyInfo &info = change->info[i];
                if ((info.flags & XIMasterAdded) && info.use == XIMasterKeyboard)
                    added.push_back(info.deviceid);
                if (info.flags & XIMasterRemoved)
                    m_keyboardModifiers.erase(info.deviceid);
            }
            XFreeEventData(m_display, &event.xcookie);
            for (const int deviceId : added)
                watchKeyboard(deviceId);
            return;
        }
        const auto *raw = static_cast<const XIRawEvent *>(event.xcookie.data);
        const int deviceId = raw->deviceid;
        const int sourceId = raw->sourceid;
        const unsigned keycode = unsigned(raw->detail);
        XFreeEventData(m_display, &event.xcookie);
        if (type == XI_RawKeyPress || type == XI_RawKeyRelease)
            handleRawKey(deviceId, sourceId, keycode, type == XI_RawKeyPress);
        return;
    }
    if (event.type != m_xkbEventBase)
        return;
    const auto &xkb = reinterpret_cast<const XkbEvent &>(event);
    switch (xkb.any.xkb_type) {
    case XkbStateNotify:
        m_keyboardModifiers[xkb.state.device] = xkb.state.mods;
        break;
    case XkbMapNotify:
    case XkbNewKeyboardNotify:
        refreshModifierRoles();
        refreshRepeatControls();
        break;
    case XkbControlsNotify:
        refreshRepeatControls();
        break;
    default:
        break;
    }
}

bool X11KeyMonitor::isXTestSource(int sourceId)
{
    if (const auto known = m_isXTestSource.find(sourceId); known != m_isXTestSource.end())
        return known->second;
    bool isXTest = false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    const Atom property = XInternAtom(m_display, "XTEST Device", False);
    if (XIGetProperty(m_display, sourceId, property, 0, 1, False, AnyPropertyType, &type, &format, &count,
            &remaining, &data)
            == Success
        && data) {
        isXTest = type != None && count > 0 && format == 8 && data[0] != 0;
        XFree(data);
    }
    m_isXTestSource.emplace(sourceId, isXTest);
    return isXTest;
}

void X11KeyMonitor::handleRawKey(int deviceId, int sourceId, unsigned keycode, bool press)
{
    // Only XTEST devices carry synthesized keys. A real keyboard's keys never
    // consult the log, so a user's key read late can never be taken for one
    // of ours (and let one of ours through in its place).
    const bool maybeOurs = isXTestSource(sourceId);
    if (!m_keyboardModifiers.contains(deviceId))
        watchKeyboard(deviceId); // a master keyboard added since we connected

    const bool repeats
        = m_repeatEnabled && keycode < 256 && (m_perKeyRepeat[keycode / 8] & (1u << (keycode % 8)));
    if (!press) {
        if (keycode == m_repeatKey && deviceId == m_repeatDevice) {
            m_repeatTimer.stop();
            m_repeatKey = 0;
        }
        if (maybeOurs)
            m_syntheticKeys.takeIfSent(keycode, false);
        return;
    }
    if (repeats) {
        // The server repeats only the last repeatable key pressed.
        m_repeatTimer.stop();
        m_repeatKey = 0;
    }
    if (maybeOurs && m_syntheticKeys.takeIfSent(keycode, true))
        return;
    if (repeats) {
        m_repeatKey = keycode;
        m_repeatDevice = deviceId;
        m_nextRepeatAt = QDeadlineTimer(m_repeatDelayMs, Qt::PreciseTimer);
        m_repeatTimer.start(m_repeatDelayMs);
    }
    deliver(KeyEvent { ansiKeyCode(keycode), modifierFlags(deviceId), false });
}

void X11KeyMonitor::repeatHeldKey()
{
    // The key may have come up in events not yet read.
    drainEvents();
    if (!m_repeatKey || !m_display)
        return;
    // Paced from the press, not from this (possibly late) tick, so the count
    // of repeats keeps up with the server's.
    m_nextRepeatAt += m_repeatIntervalMs;
    m_repeatTimer.start(int(qMax<qint64>(0, m_nextRepeatAt.remainingTime())));
    deliver(KeyEvent { ansiKeyCode(m_repeatKey), modifierFlags(m_repeatDevice), true });
}

void X11KeyMonitor::deliver(const KeyEvent &event)
{
    // A handler may add or remove monitors.
    const auto handlers = m_handlers;
    for (const auto &[handle, handler] : handlers) {
        if (m_handlers.contains(handle))
            handler(event);
    }
}
