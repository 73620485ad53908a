#include "platform/typing/xtest/XTestKeyboard.h"

#include "common/Graphemes.h"
#include "common/Log.h"
#include "platform/Keysyms.h"
#include "platform/Pasteboard.h"
#include "platform/SyntheticKeyLog.h"

#include <QCoreApplication>
#include <QPointer>

#include <qcoro/qcorotimer.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;

namespace
{

// A client that sees our key event reads the key's meaning afterwards, from
// its own copy of the keymap, which it refetches when told the map changed.
// Putting a borrowed key code back right after the key-up would let it read
// the empty mapping and lose the character; 50 ms is the least that proved
// safe, and a quarter second also spares a run of the same rare character
// from remapping again and again.
constexpr auto spareKeyRestoreDelay = 250ms;
constexpr qint64 spareKeyMinimumHoldMs = 50;
// Between typing runs the user may have switched layouts.
constexpr qint64 keymapIdleRefreshMs = 250;
// The user lets go of a hotkey's Shift, or of Ctrl, within moments; holding a
// modifier much longer is not waiting for us, and typing must go on.
constexpr qint64 heldModifierTimeoutMs = 1500;
constexpr auto heldModifierPoll = 10ms;
// Reconnecting to a display that is not there is cheap but not free.
constexpr qint64 reconnectIntervalMs = 2000;
// The pace of typing: the target application gets time to take each key.
constexpr auto keyHoldTime = 1ms;
constexpr auto afterCharacterTime = 8ms;
constexpr auto afterBackspaceTime = 5ms;
// A paste is complete once the target has read the clipboard. One that never
// reads it (a terminal takes Ctrl+V as a control character) must not hold
// the user's clipboard hostage for long.
constexpr auto pasteTakeTimeout = 450ms;

constexpr unsigned userModifierMask = ShiftMask | ControlMask | Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask;

int xErrorCount = 0;
int countXError(Display *, XErrorEvent *)
{
    ++xErrorCount;
    return 0;
}

// Runs an X request whose failure must not end the process (Xlib's default
// handler exits), and says whether the server accepted it.
template <typename Request> bool checkedRequest(Display *display, Request request)
{
    XSync(display, False);
    xErrorCount = 0;
    auto previous = XSetErrorHandler(countXError);
    request();
    XSync(display, False);
    XSetErrorHandler(previous);
    return xErrorCount == 0;
}

QCoro::Task<> preciseSleep(std::chrono::milliseconds duration)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

} // namespace

XTestKeyboard::XTestKeyboard(SyntheticKeyLog &sent, Pasteboard *pasteboard)
    : m_sent(sent)
    , m_pasteboard(pasteboard)
{
    m_restoreTimer.setSingleShot(true);
    m_restoreTimer.setTimerType(Qt::PreciseTimer);
    m_restoreTimer.callOnTimeout([this] { restoreSpareKeys(); });
}

XTestKeyboard::~XTestKeyboard()
{
    if (!m_display)
        return;
    restoreSpareKeys();
    if (m_pressed)
        release(*m_pressed);
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, XkbAllComponentsMask, True);
    XCloseDisplay(m_display);
}

bool XTestKeyboard::connect() const
{
    if (m_display)
        return true;
    if (m_lastConnectAttempt.isValid() && m_lastConnectAttempt.elapsed() < reconnectIntervalMs)
        return false;
    m_lastConnectAttempt.start();

    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    int xkbOpcode = 0;
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)
        || !XkbQueryExtension(display, &xkbOpcode, &event, &error, &xkbMajor, &xkbMinor)) {
        XCloseDisplay(display);
        return false;
    }
    // XTest keys must not be held up by a grab of another client.
    XTestGrabControl(display, True);
    XkbSelectEvents(display, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
        XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    m_display = display;
    return true;
}

bool XTestKeyboard::canSynthesizeInput()
{
    return connect();
}

QString XTestKeyboard::limitation() const
{
    return m_display ? QString()
                     : QCoreApplication::translate("XTestKeyboard",
                         "The X server cannot be reached, or it does not accept synthesized keys (XTEST).");
}

bool XTestKeyboard::canType(const QString &grapheme)
{
    return keysymForCharacter(grapheme) != 0;
}

bool XTestKeyboard::drainMapChanges()
{
    bool changed = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        changed = true;
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
    return changed;
}

void XTestKeyboard::refreshKeymap()
{
    m_keymapDirty = false;
    m_strokeCache.clear();
    m_groupAndLocks = ~0u;
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, XkbAllComponentsMask, True);
    m_xkb = XkbGetMap(m_display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    std::fill(std::begin(m_modifierKey), std::end(m_modifierKey), 0);
    m_level3Mask = 0;
    if (!m_xkb)
        return;

    // One key for each modifier we press ourselves: the ordinary left-hand
    // keys where the layout has them.
    auto firstSym = [this](int keycode) {
        return XkbKeyNumSyms(m_xkb, keycode) > 0 ? XkbKeySymEntry(m_xkb, keycode, 0, 0) : NoSymbol;
    };
    auto pick = [&](int index, std::initializer_list<KeySym> preferred) {
        for (KeySym wanted : preferred) {
            for (int keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code; ++keycode) {
                if ((m_xkb->map->modmap[keycode] & (1u << index)) && firstSym(keycode) == wanted) {
                    m_modifierKey[index] = static_cast<unsigned char>(keycode);
                    return;
                }
            }
        }
    };
    pick(ShiftMapIndex, { XK_Shift_L, XK_Shift_R });
    pick(ControlMapIndex, { XK_Control_L, XK_Control_R });
    pick(Mod1MapIndex, { XK_Alt_L, XK_Alt_R, XK_Meta_L });
    for (int keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code && !m_level3Mask; ++keycode) {
        const unsigned mods = m_xkb->map->modmap[keycode];
        if (mods && firstSym(keycode) == XK_ISO_Level3_Shift) {
            m_level3Mask = mods;
            for (int index = 0; index < 8; ++index) {
                if (mods & (1u << index))
                    m_modifierKey[index] = static_cast<unsigned char>(keycode);
            }
        }
    }

    // Spare key codes: those the layout leaves empty, and those we borrowed
    // that still carry what we put there (a new layout wipes them).
    QList<SpareKey> spares;
    for (int keycode = m_xkb->min_key_code + 1; keycode <= m_xkb->max_key_code; ++keycode) {
        if (m_xkb->map->modmap[keycode])
            continue;
        SpareKey spare;
        spare.keycode = static_cast<unsigned char>(keycode);
        for (const SpareKey &known : std::as_const(m_spares)) {
            if (known.keycode == keycode && known.keysym && XkbKeyNumSyms(m_xkb, keycode) > 0
                && (firstSym(keycode) == known.keysym
                    || XkbKeySymEntry(m_xkb, keycode, 1, 0) == known.keysym))
                spare = known;
        }
        if (spare.keysym || XkbKeyNumSyms(m_xkb, keycode) == 0)
            spares.append(spare);
    }
    m_spares = spares;
}

std::optional<XTestKeyboard::Stroke> XTestKeyboard::findStroke(unsigned long keysym, bool ignoreLocks)
{
    if (!m_xkb)
        return std::nullopt;
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success)
        return std::nullopt;
    const unsigned locks = ignoreLocks ? 0u : unsigned(state.locked_mods);
    const unsigned groupAndLocks = (unsigned(state.group) << 8) | state.locked_mods;
    if (groupAndLocks != m_groupAndLocks) {
        m_strokeCache.clear();
        m_groupAndLocks = groupAndLocks;
    }
    const quint64 cacheKey = (quint64(ignoreLocks) << 32) | keysym;
    if (auto cached = m_strokeCache.constFind(cacheKey); cached != m_strokeCache.cend())
        return *cached;

    QList<unsigned> candidates = { 0, ShiftMask };
    if (m_level3Mask)
        candidates << m_level3Mask << (ShiftMask | m_level3Mask);
    for (unsigned pressed : candidates) {
        const unsigned mods = locks | pressed;
        for (int keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code; ++keycode) {
            if (XkbKeyNumSyms(m_xkb, keycode) == 0 || m_xkb->map->modmap[keycode])
                continue;
            unsigned consumed = 0;
            KeySym result = NoSymbol;
            if (!XkbTranslateKeyCode(m_xkb, static_cast<KeyCode>(keycode),
                    XkbBuildCoreState(mods, state.group), &consumed, &result))
                continue;
            // A Lock the key's type does not use still makes the client
            // read the upper-case letter.
            if ((mods & LockMask) && !(consumed & LockMask)) {
                KeySym lower = NoSymbol, upper = NoSymbol;
                XConvertCase(result, &lower, &upper);
                result = upper;
            }
            if (result == keysym) {
                const Stroke stroke { static_cast<unsigned char>(keycode), pressed };
                m_strokeCache.insert(cacheKey, stroke);
                return stroke;
            }
        }
    }
    return std::nullopt;
}

std::optional<XTestKeyboard::Stroke> XTestKeyboard::borrowSpareKey(unsigned long keysym, bool ignoreLocks)
{
    SpareKey *chosen = nullptr;
    for (SpareKey &spare : m_spares) {
        if (spare.keysym == keysym)
            chosen = &spare;
    }
    if (!chosen) {
        for (SpareKey &spare : m_spares) {
            if (!spare.keysym) {
                chosen = &spare;
                break;
            }
            if (!chosen || chosen->lastUse.elapsed() < spare.lastUse.elapsed())
                chosen = &spare;
        }
        if (!chosen)
            return std::nullopt;
        if (chosen->keysym && chosen->lastUse.elapsed() < spareKeyMinimumHoldMs)
            qCWarning(lcApp).noquote()
                << QStringLiteral("⚠️ [Insert] Reusing a spare key code early; a character may be lost");
        KeySym lower = NoSymbol, upper = NoSymbol;
        XConvertCase(keysym, &lower, &upper);
        // Both levels carry the character (in its two cases for a letter),
        // so Shift and Caps Lock cannot turn it into anything else.
        KeySym syms[2] = { lower, upper };
        const unsigned char keycode = chosen->keycode;
        const bool accepted
            = checkedRequest(m_display, [&] { XChangeKeyboardMapping(m_display, keycode, 2, syms, 1); });
        if (!accepted)
            return std::nullopt;
        chosen->keysym = keysym;
        const SpareKey borrowed = *chosen;
        refreshKeymap();
        // refreshKeymap rebuilt the list; find our entry again.
        for (SpareKey &spare : m_spares) {
            if (spare.keycode == borrowed.keycode)
                spare = borrowed;
        }
    }
    for (SpareKey &spare : m_spares) {
        if (spare.keysym == keysym)
            spare.lastUse.start();
    }
    m_restoreTimer.start(spareKeyRestoreDelay);
    return findStroke(keysym, ignoreLocks);
}

void XTestKeyboard::restoreSpareKeys()
{
    m_restoreTimer.stop();
    if (!m_display)
        return;
    bool restored = false;
    for (SpareKey &spare : m_spares) {
        if (!spare.keysym)
            continue;
        KeySym empty[2] = { NoSymbol, NoSymbol };
        const unsigned char keycode = spare.keycode;
        checkedRequest(m_display, [&] { XChangeKeyboardMapping(m_display, keycode, 2, empty, 1); });
        spare.keysym = 0;
        restored = true;
    }
    if (restored)
        m_keymapDirty = true;
}

unsigned XTestKeyboard::heldModifiers() const
{
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success)
        return 0;
    return state.base_mods & userModifierMask;
}

void XTestKeyboard::releaseHeldModifiers()
{
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    for (int keycode = 8; keycode < 256; ++keycode) {
        const bool down = keys[keycode / 8] & (1 << (keycode % 8));
        if (down && m_xkb && keycode <= m_xkb->max_key_code
            && (m_xkb->map->modmap[keycode] & userModifierMask))
            send(static_cast<unsigned char>(keycode), false);
    }
    XFlush(m_display);
}

QCoro::Task<> XTestKeyboard::prepareKeystroke()
{
    if (!connect())
        co_return;
    if (drainMapChanges())
        m_keymapDirty = true;
    if (!m_lastKeystroke.isValid() || m_lastKeystroke.elapsed() > keymapIdleRefreshMs)
        m_keymapDirty = true;
    if (m_keymapDirty)
        refreshKeymap();

    if (!heldModifiers())
        co_return;
    QElapsedTimer waited;
    waited.start();
    while (heldModifiers()) {
        if (waited.elapsed() >= heldModifierTimeoutMs) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("⚠️ [Insert] Modifier keys still held, typing over them");
            releaseHeldModifiers();
            break;
        }
        co_await preciseSleep(heldModifierPoll);
    }
}

std::optional<XTestKeyboard::Pressed> XTestKeyboard::press(unsigned long keysym, const KeyChord &extra)
{
    if (m_keymapDirty || !m_xkb)
        refreshKeymap();
    // A shortcut goes by the key, not by the letter it types, so Caps Lock
    // needs no correction there.
    const bool ignoreLocks = extra.control || extra.alt;
    std::optional<Stroke> stroke = findStroke(keysym, ignoreLocks);
    if (!stroke)
        stroke = borrowSpareKey(keysym, ignoreLocks);
    if (!stroke)
        return std::nullopt;
    for (const SpareKey &spare : std::as_const(m_spares)) {
        if (spare.keycode == stroke->keycode && spare.keysym) {
            m_restoreTimer.start(spareKeyRestoreDelay);
            break;
        }
    }

    Pressed pressed;
    pressed.keycode = stroke->keycode;
    auto addModifier = [&](int index) {
        const unsigned char key = m_modifierKey[index];
        if (key && !pressed.modifierKeys.contains(key))
            pressed.modifierKeys.append(key);
    };
    if ((stroke->modifiers & ShiftMask) || extra.shift)
        addModifier(ShiftMapIndex);
    for (int index = 0; index < 8; ++index) {
        if ((stroke->modifiers & m_level3Mask) & (1u << index))
            addModifier(index);
    }
    if (extra.control)
        addModifier(ControlMapIndex);
    if (extra.alt)
        addModifier(Mod1MapIndex);

    m_lastKeystroke.start();
    for (unsigned char modifier : std::as_const(pressed.modifierKeys))
        send(modifier, true);
    send(pressed.keycode, true);
    XFlush(m_display);
    m_pressed = pressed;
    return pressed;
}

void XTestKeyboard::release(const Pressed &pressed)
{
    send(pressed.keycode, false);
    for (auto it = pressed.modifierKeys.crbegin(); it != pressed.modifierKeys.crend(); ++it)
        send(*it, false);
    XFlush(m_display);
    m_pressed.reset();
}

QCoro::Task<TypingResult> XTestKeyboard::stroke(unsigned long keysym, KeyChord extra)
{
    if (!connect())
        co_return TypingResult::failed(limitation());
    QPointer<QObject> alive(&m_restoreTimer);
    co_await prepareKeystroke();
    if (!alive)
        co_return TypingResult::failed({});
    const std::optional<Pressed> pressed = press(keysym, extra);
    if (!pressed)
        co_return TypingResult::failed(QCoreApplication::translate(
            "XTestKeyboard", "No key of the keyboard layout could be set up for a character."));
    co_await preciseSleep(keyHoldTime);
    // Released even when the typing is over: a key left down repeats.
    if (alive && m_pressed)
        release(*m_pressed);
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> XTestKeyboard::typeText(QString text)
{
    QPointer<QObject> alive(&m_restoreTimer);
    m_pacer.restart();
    for (const QString &grapheme : Graphemes::split(text)) {
        const TypingResult typed = co_await stroke(keysymForCharacter(grapheme), {});
        if (!alive)
            co_return TypingResult::failed({});
        if (!typed.isOk())
            co_return typed;
        co_await m_pacer.wait(afterCharacterTime);
        if (!alive)
            co_return TypingResult::failed({});
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> XTestKeyboard::erase(int graphemes)
{
    QPointer<QObject> alive(&m_restoreTimer);
    m_pacer.restart();
    for (int i = 0; i < graphemes; ++i) {
        const TypingResult erased = co_await stroke(XK_BackSpace, {});
        if (!alive)
            co_return TypingResult::failed({});
        if (!erased.isOk())
            co_return erased;
        co_await m_pacer.wait(afterBackspaceTime);
        if (!alive)
            co_return TypingResult::failed({});
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> XTestKeyboard::pressKey(KeyChord chord)
{
    return stroke(chord.keysym, chord);
}

QCoro::Task<TypingResult> XTestKeyboard::pasteText(QString text)
{
    if (!m_pasteboard)
        co_return TypingResult::skipped(
            QCoreApplication::translate("XTestKeyboard", "There is no clipboard to paste from."));
    // Ctrl+V for ordinary fields; terminals that read the clipboard take
    // Ctrl+Shift+V.
    static const QList<KeyChord> chords
        = { *KeyChord::parse(QStringLiteral("ctrl+v")), *KeyChord::parse(QStringLiteral("ctrl+shift+v")) };
    co_return co_await pasteThroughClipboard(
        *m_pasteboard, *this, std::move(text), chords, pasteChord, pasteTakeTimeout);
}

void XTestKeyboard::send(unsigned char keycode, bool press)
{
    m_sent.recordSent(keycode, press);
    XTestFakeKeyEvent(m_display, keycode, press ? True : False, CurrentTime);
}
