#pragma once

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
// them through its own copy of the active layout. To give the character a key
// gives on a US keyboard, each key code is turned into that US keysym and the
// keysym into whatever key and modifier combination gives it in the active
// layout and group, with the user's locked modifiers (Caps Lock) taken into
// account. A keysym the layout lacks is put on a spare key code for a while.
// Trust means: the display is reachable and has XTEST.
class XTestKeyboard : public TypingBackend
{
public:
    // Every key sent is recorded in `sent`, so the key monitor can tell it
    // from the user's keys.
    explicit XTestKeyboard(SyntheticKeyLog &sent);
    ~XTestKeyboard() override;

    bool isTrusted() const override;
    bool requestTrust() override;

    QCoro::Task<> prepareKeystroke() override;
    bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) override;

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

    bool connect() const;
    void refreshKeymap();
    bool drainMapChanges();
    std::optional<Stroke> findStroke(unsigned long keysym, bool ignoreLocks);
    std::optional<Stroke> borrowSpareKey(unsigned long keysym, bool ignoreLocks);
    unsigned heldModifiers() const;
    void releaseHeldModifiers();
    void send(unsigned char keycode, bool press);

    SyntheticKeyLog &m_sent;
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
    QHash<quint16, Pressed> m_pressed;
    QTimer m_restoreTimer;
};
