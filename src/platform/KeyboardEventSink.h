#pragma once

#include <QString>
#include <QStringList>
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

    // Backends whose keys carry characters rather than US-ANSI positions
    // (Wayland: an uploaded keymap, or keysyms through the compositor's own
    // layout) type every character with postCharacter. They still take
    // Backspace and the Command + V of a paste through postKeyEvent.
    virtual bool typesCharacters() const { return false; }
    // The characters about to be typed, so a backend can ready keys for all
    // of them at once rather than one at a time.
    virtual void prepareCharacters(const QStringList &characters) { Q_UNUSED(characters); }
    // One grapheme ("\n" is Return). False on the key-down when this backend
    // cannot type that character: the caller pastes it instead.
    virtual bool postCharacter(const QString &character, bool keyDown)
    {
        Q_UNUSED(character);
        Q_UNUSED(keyDown);
        return false;
    }
};
