#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

struct _XDisplay;
class QSocketNotifier;

// A shortcut taken from every application with XGrabKey on the root window,
// on a connection of our own: the key reaches no client, so it types
// nothing anywhere. Num Lock and Caps Lock do not change whether it matches.
class X11HotkeyGrab : public QObject
{
public:
    // X modifier masks for `grab`.
    enum Modifier : unsigned { shift = 1u << 0, control = 1u << 2, alt = 1u << 3, super = 1u << 6 };

    explicit X11HotkeyGrab(std::function<void()> onPressed, QObject *parent = nullptr);
    ~X11HotkeyGrab() override;

    // False without an X display, for a keysym no key gives, or when
    // another client holds the same grab.
    bool grab(unsigned long keysym, unsigned modifiers);
    void release();

private:
    void drain();

    std::function<void()> m_onPressed;
    _XDisplay *m_display = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<unsigned> m_keycodes;
    unsigned m_modifiers = 0;
    bool m_down = false;
};
