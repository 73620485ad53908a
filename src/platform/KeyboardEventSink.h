#pragma once

#include <QtGlobal>

#include <qcoro/qcorotask.h>

// Synthesized keyboard input towards the focused application.
//
// A key is named by its US-ANSI key code (0 is the A key, 51 Backspace, …):
// the code says which key of a US keyboard to press, and a backend types the
// character that key gives on a US layout whatever layout the user has active.
// Flags are the modifier masks held with the key on its key-down.
class KeyboardEventSink
{
public:
    enum Flag : quint64 {
        noFlags = 0,
        shiftFlag = 0x20000,
        optionFlag = 0x80000,
        commandFlag = 0x100000,
    };

    virtual ~KeyboardEventSink() = default;

    // Suspends until a key stroke can start without combining with keys the
    // user still holds (Shift of a hotkey, Ctrl); the wait is bounded.
    virtual QCoro::Task<> prepareKeystroke() = 0;
    // False when the event could not be created or sent; the caller goes on.
    virtual bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) = 0;
};
