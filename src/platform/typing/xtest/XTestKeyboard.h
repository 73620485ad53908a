#pragma once

#include "common/Pacer.h"
#include "platform/TypingBackend.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QTimer>

#include <chrono>
#include <optional>

struct _XDisplay;
struct _XkbDesc;
class SyntheticKeyLog;

// Key strokes through the XTEST extension on our own Xlib connection.
//
// Keys arrive at the focused client as from any keyboard, so the client reads
// them through its own copy of the active layout. Each character's keysym is
// therefore turned into whatever key and modifier combination gives it in the
// active layout and group, with the user's locked modifiers (Caps Lock) taken
// into account. A keysym the layout lacks is put on a spare key code for a
// while, so every character with a keysym types as a key.
class XTestKeyboard : public TypingBackend
{
public:
    // Every key sent is recorded in `sent`, so the key monitor can tell it
    // from the user's keys. Without a pasteboard nothing is pasted.
    explicit XTestKeyboard(SyntheticKeyLog &sent, Pasteboard *pasteboard = nullptr);
    ~XTestKeyboard() override;

    // The display is reachable and has XTEST.
    bool canSynthesizeInput() override;
    QString limitation() const override;
    bool canType(const QString &grapheme) override;
    QCoro::Task<TypingResult> typeText(QString text) override;
    QCoro::Task<TypingResult> erase(int graphemes) override;
    QCoro::Task<TypingResult> pressKey(KeyChord chord) override;
    QCoro::Task<TypingResult> pasteText(QString text) override;

    // Puts every borrowed spare key code back to empty at once.
    void restoreSpareKeys();

private:
    struct Stroke {
        unsigned char keycode = 0;
        unsigned modifiers = 0;
    };
    struct SpareKey {
        unsigned char keycode = 0;
        unsigned long keysym = 0; // 0 while unused
        QElapsedTimer lastUse;
    };
    struct Pressed {
        unsigned char keycode = 0;
        QList<unsigned char> modifierKeys;
    };

    // Suspends until a key stroke can start without combining with keys the
    // user still holds (Shift of a hotkey, Ctrl); the wait is bounded.
    QCoro::Task<> prepareKeystroke();
    std::optional<Pressed> press(unsigned long keysym, const KeyChord &extra);
    void release(const Pressed &pressed);
    QCoro::Task<TypingResult> stroke(unsigned long keysym, KeyChord extra);
    bool connect() const;
    void refreshKeymap();
    bool drainMapChanges();
    std::optional<Stroke> findStroke(unsigned long keysym, bool ignoreLocks);
    std::optional<Stroke> borrowSpareKey(unsigned long keysym, bool ignoreLocks);
    unsigned heldModifiers() const;
    void releaseHeldModifiers();
    void send(unsigned char keycode, bool press);

    SyntheticKeyLog &m_sent;
    Pasteboard *m_pasteboard = nullptr;
    Pacer m_pacer;
    mutable _XDisplay *m_display = nullptr;
    mutable QElapsedTimer m_lastConnectAttempt;
    _XkbDesc *m_xkb = nullptr;
    bool m_keymapDirty = true;
    QElapsedTimer m_lastKeystroke;
    unsigned m_groupAndLocks = ~0u;
    QHash<quint64, Stroke> m_strokeCache;
    unsigned char m_modifierKey[8] = {};
    unsigned m_level3Mask = 0;
    QList<SpareKey> m_spares;
    std::optional<Pressed> m_pressed;
    QTimer m_restoreTimer;
};
