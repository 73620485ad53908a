#pragma once

#include <QString>

#include <optional>

// The shortcut that starts and stops dictation, as stored in the setting
// "hotkey" (a Qt key sequence in portable text, "Ctrl+Alt+D"); absent means
// the default, Ctrl+Alt+D.
//
// A shortcut must hold Ctrl, Alt or Super: such a key types nothing, so it
// can be taken from every application (grabbed on X11, bound by the desktop
// on Wayland) without losing the user a character. Shift + R is the one
// exception, for those who ask for it: it is watched, not taken, so every
// capital R the user types toggles dictation too, which is why it is never
// the default.
class Hotkey
{
public:
    static constexpr const char *settingsKey = "hotkey";

    // Ctrl+Alt+D: no common desktop takes it, and it types nothing.
    Hotkey();
    static Hotkey shiftR();
    // Nothing for a key alone, a modifier alone, or a combination without
    // Ctrl, Alt or Super other than Shift + R.
    static std::optional<Hotkey> fromSequence(const QString &portableText);
    static std::optional<Hotkey> fromKey(int qtKey, int qtModifiers);
    // The stored one; an unreadable value reads as the default.
    static Hotkey stored();

    bool isShiftR() const;
    bool isDefault() const;
    // Portable text for the setting.
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

    Hotkey(QString sequence, unsigned long keysym, unsigned modifiers);

    QString m_sequence;
    unsigned long m_keysym;
    unsigned m_modifiers;
};
