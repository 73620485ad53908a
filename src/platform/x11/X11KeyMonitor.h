#pragma once

#include "platform/KeyMonitor.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <map>

class QSocketNotifier;
class SyntheticKeyLog;
struct _XDisplay;
union _XEvent;

// Key-downs of every window on the X display, read as XInput2 raw events on a
// connection of our own. Raw events see keys before any window gets them and
// take nothing away from the focused window, so one monitor covers other
// applications and this program alike.
class X11KeyMonitor : public QObject, public KeyMonitor
{
    Q_OBJECT

public:
    explicit X11KeyMonitor(SyntheticKeyLog &syntheticKeys, QObject *parent = nullptr);
    ~X11KeyMonitor() override;

    std::optional<Handle> addGlobalMonitor(Handler handler) override;
    // The global monitor already sees this program's own windows.
    std::optional<Handle> addLocalMonitor(Handler) override { return std::nullopt; }
    void removeMonitor(Handle handle) override;

    // The US-ANSI position code of an X key code (evdev numbering).
    static quint16 ansiKeyCode(unsigned xKeycode);

private:
    bool connectToDisplay();
    void disconnectFromDisplay();
    void drainEvents();
    void handleEvent(_XEvent &event);
    void handleRawKey(int deviceId, int sourceId, unsigned keycode, bool press);
    bool isXTestSource(int sourceId);
    void watchKeyboard(int deviceId);
    void refreshModifierRoles();
    void refreshRepeatControls();
    quint32 modifierFlags(int deviceId) const;
    void deliver(const KeyEvent &event);
    void repeatHeldKey();

    SyntheticKeyLog &m_syntheticKeys;
    _XDisplay *m_display = nullptr;
    int m_xiOpcode = 0;
    int m_xkbEventBase = 0;
    QSocketNotifier *m_notifier = nullptr;
    QMetaObject::Connection m_aboutToBlock;
    bool m_draining = false;
    bool m_disconnectPending = false;

    std::map<Handle, Handler> m_handlers;
    Handle m_nextHandle = 1;

    // Raw events carry no modifier state; the XKB state of each master
    // keyboard, updated in order with its keys, stands in.
    std::map<int, unsigned> m_keyboardModifiers;
    std::map<int, bool> m_isXTestSource;
    std::array<quint32, 8> m_modifierRoles {}; // a KeyModifier flag per X modifier bit

    // The server repeats a held key without sending raw events for the
    // repeats; the same repeat is reproduced here from the server's settings.
    bool m_repeatEnabled = true;
    std::array<unsigned char, 32> m_perKeyRepeat {};
    int m_repeatDelayMs = 660;
    int m_repeatIntervalMs = 40;
    QTimer m_repeatTimer;
    QDeadlineTimer m_nextRepeatAt;
    unsigned m_repeatKey = 0;
    int m_repeatDevice = 0;
};
