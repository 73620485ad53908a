#pragma once

#include <QString>

#include <optional>

// The shortcut that starts and stops dictation, as stored in the setting
// "hotkey" (a Qt key sequence in portable text, "Ctrl+Alt+D"); absent means
// Shift + R, watched without being taken from the applications.
//
// Any other shortcut must hold Ctrl, Alt or Super: such a key types nothing,
// so it can be taken from every application (grabbed on X11, bound by the
// desktop on Wayland) without losing the user a character.
class Hotkey
{
public:
    static constexpr const char *settingsKey = "hotkey";

    // Shift + R.
    Hotkey() = default;
    // Nothing for a key alone, a modifier alone, or a combination without
    // Ctrl, Alt or Super other than Shift + R.
    static std::optional<Hotkey> fromSequence(const QString &portableText);
    static std::optional<Hotkey> fromKey(int qtKey, int qtModifiers);
    // The stored one; an unreadable value reads as Shift + R.
    static Hotkey stored();

    bool isShiftR() const { return m_sequence.isEmpty(); }
    // Portable text for the setting; empty for Shift + R.
    QString sequence() const { return m_sequence; }
    // For people: "Shift + R", "Ctrl+Alt+D".
    QString displayText() const;

    // The key's X keysym (lower case for letters) and which of Shift,
    // Control, Alt and Super it needs.
    unsigned long keysym() const { return m_keysym; }
    bool shift() const { return m_modifiers & shiftBit; }
    bool control() const { return m_modifiers & controlBit; }
    bool alt() const { return m_modifiers & altBit; }
    bool super() const { return m_modifiers & superBit; }

    // The GlobalShortcuts portal's notation: "CTRL+ALT+d".
    QString portalTrigger() const;

    friend bool operator==(const Hotkey &, const Hotkey &) = default;

private:
    enum : unsigned { shiftBit = 1, controlBit = 2, altBit = 4, superBit = 8 };

    QString m_sequence;
    unsigned long m_keysym = 0;
    unsigned m_modifiers = 0;
};
