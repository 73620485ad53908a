#include "desktop/Hotkey.h"

#include "common/Settings.h"

#include <QKeySequence>
#include <QStringList>

#include <xkbcommon/xkbcommon.h>

namespace
{

unsigned long keysymOfQtKey(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return XKB_KEY_a + unsigned(key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XKB_KEY_0 + unsigned(key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XKB_KEY_F1 + unsigned(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Space:
        return XKB_KEY_space;
    case Qt::Key_Return:
        return XKB_KEY_Return;
    case Qt::Key_Enter:
        return XKB_KEY_KP_Enter;
    case Qt::Key_Tab:
        return XKB_KEY_Tab;
    case Qt::Key_Escape:
        return XKB_KEY_Escape;
    case Qt::Key_Insert:
        return XKB_KEY_Insert;
    case Qt::Key_Delete:
        return XKB_KEY_Delete;
    case Qt::Key_Home:
        return XKB_KEY_Home;
    case Qt::Key_End:
        return XKB_KEY_End;
    case Qt::Key_PageUp:
        return XKB_KEY_Prior;
    case Qt::Key_PageDown:
        return XKB_KEY_Next;
    case Qt::Key_Pause:
        return XKB_KEY_Pause;
    default:
        break;
    }
    // Punctuation: Qt's key codes are the Latin-1 code points.
    if (key > 0x20 && key < 0x7f)
        return xkb_utf32_to_keysym(uint(key));
    return 0;
}

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
        || key == Qt::Key_AltGr || key == Qt::Key_Super_L || key == Qt::Key_Super_R
        || key == Qt::Key_CapsLock;
}

} // namespace

Hotkey::Hotkey()
    : Hotkey(QStringLiteral("Ctrl+Alt+D"), XKB_KEY_d, controlBit | altBit)
{
}

Hotkey::Hotkey(QString sequence, unsigned long keysym, unsigned modifiers)
    : m_sequence(std::move(sequence))
    , m_keysym(keysym)
    , m_modifiers(modifiers)
{
}

Hotkey Hotkey::shiftR()
{
    return Hotkey(QStringLiteral("Shift+R"), XKB_KEY_r, shiftBit);
}

bool Hotkey::isShiftR() const
{
    return *this == shiftR();
}

bool Hotkey::isDefault() const
{
    return *this == Hotkey();
}

std::optional<Hotkey> Hotkey::fromKey(int qtKey, int qtModifiers)
{
    if (isModifierKey(qtKey))
        return std::nullopt;
    const unsigned long keysym = keysymOfQtKey(qtKey);
    if (keysym == 0)
        return std::nullopt;
    Hotkey hotkey({}, keysym, 0);
    if (qtModifiers & Qt::ShiftModifier)
        hotkey.m_modifiers |= shiftBit;
    if (qtModifiers & Qt::ControlModifier)
        hotkey.m_modifiers |= controlBit;
    if (qtModifiers & Qt::AltModifier)
        hotkey.m_modifiers |= altBit;
    if (qtModifiers & Qt::MetaModifier)
        hotkey.m_modifiers |= superBit;
    if (hotkey.m_modifiers == shiftBit && keysym == XKB_KEY_r)
        return shiftR();
    if (!(hotkey.m_modifiers & (controlBit | altBit | superBit)))
        return std::nullopt;
    const int modifiers
        = qtModifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    hotkey.m_sequence = QKeySequence(QKeyCombination(Qt::KeyboardModifiers(modifiers), Qt::Key(qtKey)))
                            .toString(QKeySequence::PortableText);
    return hotkey;
}

std::optional<Hotkey> Hotkey::fromSequence(const QString &portableText)
{
    const QKeySequence sequence = QKeySequence::fromString(portableText, QKeySequence::PortableText);
    if (sequence.count() != 1)
        return std::nullopt;
    const QKeyCombination combination = sequence[0];
    return fromKey(int(combination.key()), int(combination.keyboardModifiers()));
}

Hotkey Hotkey::stored()
{
    const std::optional<QString> text = Settings::stringValue(QString::fromLatin1(settingsKey));
    return text ? fromSequence(*text).value_or(Hotkey()) : Hotkey();
}

QString Hotkey::displayText() const
{
    if (isShiftR())
        return QStringLiteral("Shift + R");
    return QKeySequence::fromString(m_sequence, QKeySequence::PortableText)
        .toString(QKeySequence::NativeText);
}

QString Hotkey::portalTrigger() const
{
    QStringList parts;
    if (control())
        parts << QStringLiteral("CTRL");
    if (alt())
        parts << QStringLiteral("ALT");
    if (shift())
        parts << QStringLiteral("SHIFT");
    if (super())
        parts << QStringLiteral("LOGO");
    char name[64] = {};
    xkb_keysym_get_name(xkb_keysym_t(m_keysym), name, sizeof name);
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}
