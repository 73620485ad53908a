#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"

#include "common/Graphemes.h"
#include "common/Log.h"
#include "platform/Keysyms.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <virtual-keyboard-v1-client.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

constexpr quint32 firstKeycode = 9; // xkb keycodes are evdev codes + 8
constexpr quint32 evdevOffset = 8;
// Real modifier bits: their order is fixed by XKB.
constexpr quint32 shiftMask = 1u << 0;
constexpr quint32 controlMask = 1u << 2;
constexpr quint32 mod1Mask = 1u << 3;
// A keymap is sent again when a text needs a key it lacks; past this size it
// starts over with only the keys of the current text.
constexpr qsizetype keymapLimit = 240;
// The pace of typing: the target application gets time to take each key.
constexpr std::chrono::milliseconds afterCharacterTime { 8 };
constexpr std::chrono::milliseconds afterBackspaceTime { 5 };
constexpr std::chrono::milliseconds pasteTakeTimeout { 450 };
// Keys every keymap holds, on the same key codes: one that types nothing
// (see uploadKeymap), erasing, a new line, and the paste shortcut.
const QList<quint32> standingKeys = { XKB_KEY_VoidSymbol, XKB_KEY_BackSpace, XKB_KEY_Return, XKB_KEY_v };
constexpr quint32 silentKey = 1; // evdev code of VoidSymbol, the first key

struct Globals {
    wl_seat *seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *manager = nullptr;
    bool offered = false;
    bool bind = true;
};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *globals = static_cast<Globals *>(data);
    if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals->offered = true;
        if (globals->bind && !globals->manager)
            globals->manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->bind && !globals->seat) {
        // The first seat is the user's; a multi-seat compositor lists it first.
        globals->seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void onGlobalRemove(void *, wl_registry *, uint32_t) { }

const wl_registry_listener registryListener = { onGlobal, onGlobalRemove };

quint32 timestamp()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QByteArray displayArgument(const QString &name)
{
    return name.toLocal8Bit();
}

} // namespace

WaylandVirtualKeyboard::WaylandVirtualKeyboard(QString displayName, Pasteboard *pasteboard)
    : m_displayName(std::move(displayName))
    , m_pasteboard(pasteboard)
{
}

WaylandVirtualKeyboard::~WaylandVirtualKeyboard()
{
    if (m_keyboard && m_heldModifiers)
        sendModifiers(0);
    disconnect();
}

bool WaylandVirtualKeyboard::isOffered(const QString &displayName)
{
    const QByteArray name = displayArgument(displayName);
    wl_display *display = wl_display_connect(name.isEmpty() ? nullptr : name.constData());
    if (!display)
        return false;
    Globals globals;
    globals.bind = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return globals.offered;
}

bool WaylandVirtualKeyboard::connect() const
{
    if (m_display && wl_display_get_error(m_display) == 0)
        return m_keyboard != nullptr;
    disconnect();

    const QByteArray name = displayArgument(m_displayName);
    m_display = wl_display_connect(name.isEmpty() ? nullptr : name.constData());
    if (!m_display) {
        qCWarning(lcPlatform).noquote() << "Cannot reach the Wayland compositor at" << m_displayName;
        return false;
    }
    Globals globals;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, &globals);
    wl_display_roundtrip(m_display);
    m_seat = globals.seat;
    m_manager = globals.manager;
    if (!m_seat || !m_manager) {
        qCWarning(lcPlatform) << "The compositor offers no virtual keyboard on a seat";
        disconnect();
        return false;
    }
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
    // A compositor that keeps the protocol for trusted clients answers with
    // an error, which ends the connection.
    if (wl_display_roundtrip(m_display) < 0 || wl_display_get_error(m_display) != 0) {
        qCWarning(lcPlatform) << "The compositor refused a virtual keyboard";
        disconnect();
        return false;
    }
    // The compositor's events (deleted ids) must be read, or its buffer to
    // us fills up over a long session.
    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { dispatch(); });
    m_keymapSent = false;
    // A keyboard's first keymap is taken in as the device joins the seat;
    // keys typed against it were seen lost. Text brings its own map later.
    const_cast<WaylandVirtualKeyboard *>(this)->uploadKeymap(standingKeys);
    return true;
}

void WaylandVirtualKeyboard::dispatch() const
{
    if (!m_display)
        return;
    // Never blocks the GUI thread: a round trip may already have read what
    // woke us, and the read itself does not wait.
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    if (wl_display_read_events(m_display) < 0 && errno != EAGAIN) {
        qCWarning(lcPlatform) << "The Wayland connection for typing was lost";
        m_notifier->setEnabled(false);
        return;
    }
    wl_display_dispatch_pending(m_display);
}

void WaylandVirtualKeyboard::disconnect() const
{
    m_notifier.reset();
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_manager));
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display) {
        wl_display_flush(m_display);
        wl_display_disconnect(m_display);
    }
    m_keyboard = nullptr;
    m_manager = nullptr;
    m_seat = nullptr;
    m_registry = nullptr;
    m_display = nullptr;
    m_keymapSent = false;
}

bool WaylandVirtualKeyboard::canSynthesizeInput()
{
    return connect();
}

QString WaylandVirtualKeyboard::limitation() const
{
    return m_keyboard ? QString()
                      : QCoreApplication::translate("WaylandVirtualKeyboard",
                          "The compositor did not give Tellwind a virtual keyboard.");
}

bool WaylandVirtualKeyboard::canType(const QString &grapheme)
{
    return !keysymsFor(grapheme).isEmpty();
}

QList<quint32> WaylandVirtualKeyboard::keysymsFor(const QString &grapheme)
{
    if (const quint32 single = keysymForCharacter(grapheme); single != XKB_KEY_NoSymbol)
        return { single };
    QList<quint32> keysyms;
    for (char32_t codePoint : grapheme.toUcs4()) {
        const quint32 keysym = xkb_utf32_to_keysym(codePoint);
        if (keysym == XKB_KEY_NoSymbol)
            return {};
        keysyms << keysym;
    }
    return keysyms;
}

QByteArray WaylandVirtualKeyboard::keymapText(const QList<quint32> &keysyms)
{
    const quint32 lastKeycode = firstKeycode + quint32(keysyms.size());
    QByteArray codes, symbols;
    for (qsizetype i = 0; i < keysyms.size(); ++i) {
        const QByteArray key = "<K" + QByteArray::number(firstKeycode + quint32(i)) + '>';
        codes += "    " + key + " = " + QByteArray::number(firstKeycode + quint32(i)) + ";\n";
        char name[64] = {};
        xkb_keysym_get_name(keysyms.at(i), name, sizeof name);
        symbols += "    key " + key + " { [ " + QByteArray(name) + " ] };\n";
    }
    return "xkb_keymap {\n"
           "  xkb_keycodes \"tellwind\" {\n"
           "    minimum = 8;\n"
           "    maximum = "
        + QByteArray::number(std::max(lastKeycode, 255u)) + ";\n" + codes
        + "  };\n"
          "  xkb_types \"tellwind\" { include \"complete\" };\n"
          "  xkb_compatibility \"tellwind\" { include \"complete\" };\n"
          "  xkb_symbols \"tellwind\" {\n"
        + symbols
        + "  };\n"
          "};\n";
}

bool WaylandVirtualKeyboard::uploadKeymap(const QList<quint32> &keysyms)
{
    const QByteArray text = keymapText(keysyms);
    const int fd = memfd_create("tellwind-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    // The size handed over counts the terminating NUL the reader expects.
    const qsizetype size = text.size() + 1;
    bool written = ftruncate(fd, size) == 0;
    for (qsizetype offset = 0; written && offset < size;) {
        const ssize_t n = pwrite(fd, text.constData() + offset, size_t(size - offset), offset);
        written = n > 0;
        offset += n;
    }
    if (written)
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, quint32(size));
    close(fd); // the request carries its own copy
    if (!written)
        return false;
    m_keysyms = keysyms;
    m_keymapSent = true;
    // The first key after a new keymap was seen to be read with the keymap
    // before it (sway 1.7 and foot: a text's first character, on a key the
    // old map did not have, vanished in about one run in ten). A key that
    // types nothing in either map takes that place, and the round trip lets
    // the real keys wait until the compositor has had both.
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
    m_heldModifiers = 0;
    zwp_virtual_keyboard_v1_key(m_keyboard, timestamp(), silentKey, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(m_keyboard, timestamp(), silentKey, WL_KEYBOARD_KEY_STATE_RELEASED);
    return wl_display_roundtrip(m_display) >= 0;
}

std::optional<quint32> WaylandVirtualKeyboard::keyFor(quint32 keysym)
{
    if (keysym == XKB_KEY_NoSymbol || !connect())
        return std::nullopt;
    qsizetype index = m_keymapSent ? m_keysyms.indexOf(keysym) : -1;
    if (index < 0) {
        QList<quint32> keysyms = m_keymapSent && m_keysyms.size() < keymapLimit ? m_keysyms : standingKeys;
        keysyms << keysym;
        if (!uploadKeymap(keysyms))
            return std::nullopt;
        index = m_keysyms.size() - 1;
    }
    return firstKeycode + quint32(index) - evdevOffset;
}

bool WaylandVirtualKeyboard::prepareKeysyms(const QList<quint32> &keysyms)
{
    if (!connect())
        return false;
    QList<quint32> needed = standingKeys;
    for (quint32 keysym : keysyms) {
        if (keysym != XKB_KEY_NoSymbol && !needed.contains(keysym))
            needed << keysym;
    }
    if (m_keymapSent
        && std::all_of(needed.cbegin(), needed.cend(), [this](quint32 k) { return m_keysyms.contains(k); }))
        return true;
    return uploadKeymap(needed);
}

bool WaylandVirtualKeyboard::sendKey(quint32 key, bool down)
{
    zwp_virtual_keyboard_v1_key(
        m_keyboard, timestamp(), key, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    return flush();
}

bool WaylandVirtualKeyboard::sendModifiers(quint32 depressed)
{
    m_heldModifiers = depressed;
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, 0, 0, 0);
    return flush();
}

bool WaylandVirtualKeyboard::flush() const
{
    if (!m_display || wl_display_flush(m_display) < 0) {
        if (m_display && errno == EAGAIN)
            return true; // the rest goes out with the next request
        qCWarning(lcPlatform) << "Keys could not be sent to the compositor";
        return false;
    }
    return true;
}

QCoro::Task<TypingResult> WaylandVirtualKeyboard::stroke(
    quint32 keysym, quint32 modifiers, std::chrono::milliseconds after)
{
    QPointer<QObject> alive(m_alive.get());
    const std::optional<quint32> key = keyFor(keysym);
    if (!key)
        co_return TypingResult::failed(limitation().isEmpty()
                ? QCoreApplication::translate("WaylandVirtualKeyboard", "The compositor did not take a key.")
                : limitation());
    if (modifiers != m_heldModifiers && !sendModifiers(modifiers))
        co_return TypingResult::failed(
            QCoreApplication::translate("WaylandVirtualKeyboard", "The compositor did not take a key."));
    // Press and release leave together: a release that waited for its turn
    // on a loaded machine arrived after the client's key repeat had begun
    // ("fiiiiiirst"), and the client reads both in order anyway.
    zwp_virtual_keyboard_v1_key(m_keyboard, timestamp(), *key, WL_KEYBOARD_KEY_STATE_PRESSED);
    const bool sent = sendKey(*key, false);
    if (m_heldModifiers)
        sendModifiers(0);
    if (!sent)
        co_return TypingResult::failed(
            QCoreApplication::translate("WaylandVirtualKeyboard", "The compositor did not take a key."));
    co_await m_pacer.wait(after);
    co_return alive ? TypingResult::ok() : TypingResult::failed({});
}

QCoro::Task<TypingResult> WaylandVirtualKeyboard::typeText(QString text)
{
    QPointer<QObject> alive(m_alive.get());
    const QStringList graphemes = Graphemes::split(text);
    QList<quint32> keysyms;
    for (const QString &grapheme : graphemes)
        keysyms << keysymsFor(grapheme);
    if (!prepareKeysyms(keysyms))
        co_return TypingResult::failed(limitation());
    m_pacer.restart();
    for (quint32 keysym : std::as_const(keysyms)) {
        const TypingResult typed = co_await stroke(keysym, 0, afterCharacterTime);
        if (!alive || !typed.isOk())
            co_return typed;
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> WaylandVirtualKeyboard::erase(int graphemes)
{
    QPointer<QObject> alive(m_alive.get());
    m_pacer.restart();
    for (int i = 0; i < graphemes; ++i) {
        const TypingResult erased = co_await stroke(XKB_KEY_BackSpace, 0, afterBackspaceTime);
        if (!alive || !erased.isOk())
            co_return erased;
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> WaylandVirtualKeyboard::pressKey(KeyChord chord)
{
    quint32 modifiers = 0;
    if (chord.control)
        modifiers |= controlMask;
    if (chord.shift)
        modifiers |= shiftMask;
    if (chord.alt)
        modifiers |= mod1Mask;
    m_pacer.restart();
    return stroke(chord.keysym, modifiers, afterCharacterTime);
}

QCoro::Task<TypingResult> WaylandVirtualKeyboard::pasteText(QString text)
{
    if (!m_pasteboard)
        co_return TypingResult::skipped(
            QCoreApplication::translate("WaylandVirtualKeyboard", "There is no clipboard to paste from."));
    // Ctrl+V for ordinary fields; terminals take Ctrl+Shift+V.
    static const QList<KeyChord> chords
        = { *KeyChord::parse(QStringLiteral("ctrl+v")), *KeyChord::parse(QStringLiteral("ctrl+shift+v")) };
    co_return co_await pasteThroughClipboard(
        *m_pasteboard, *this, std::move(text), chords, pasteChord, pasteTakeTimeout);
}
