#pragma once

#include "common/Pacer.h"
#include "platform/TypingBackend.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
class QSocketNotifier;

// Types through the compositor's virtual-keyboard protocol on a Wayland
// connection of our own, whatever platform plugin Qt runs on.
//
// The keyboard's keymap is ours: every character gets a key of its own whose
// only symbol is that character, so no layout, modifier or Caps Lock of the
// user's can change what arrives, and any script types without a clipboard.
// The keymap holds exactly the keys the text being typed needs and is sent
// again when a character outside it comes; keymap and keys travel in order
// on one connection, so each key is read with the map it was pressed on.
class WaylandVirtualKeyboard : public TypingBackend
{
public:
    // Without a pasteboard, text no single key types cannot be pasted.
    explicit WaylandVirtualKeyboard(QString displayName, Pasteboard *pasteboard = nullptr);
    ~WaylandVirtualKeyboard() override;

    // Whether the compositor at `displayName` advertises the protocol.
    static bool isOffered(const QString &displayName);

    // The compositor made us a virtual keyboard.
    bool canSynthesizeInput() override;
    QString limitation() const override;
    bool canType(const QString &grapheme) override;
    QCoro::Task<TypingResult> typeText(QString text) override;
    QCoro::Task<TypingResult> erase(int graphemes) override;
    QCoro::Task<TypingResult> pressKey(KeyChord chord) override;
    QCoro::Task<TypingResult> pasteText(QString text) override;

    // The keys a grapheme is typed with: one per code point, so that a
    // letter with marks no single character holds, or an emoji sequence,
    // arrives as exactly the same code points. Empty for a code point no
    // keysym stands for.
    static QList<quint32> keysymsFor(const QString &grapheme);
    // The keymap text for keysyms on consecutive keys from the first
    // keycode on.
    static QByteArray keymapText(const QList<quint32> &keysyms);

private:
    bool connect() const;
    void disconnect() const;
    void dispatch() const;
    // The evdev key of `keysym`, uploading a new keymap when it has none.
    std::optional<quint32> keyFor(quint32 keysym);
    // Makes sure the keymap holds every keysym of `keysyms`, at once.
    bool prepareKeysyms(const QList<quint32> &keysyms);
    QCoro::Task<TypingResult> stroke(quint32 keysym, quint32 modifiers, std::chrono::milliseconds after);
    bool uploadKeymap(const QList<quint32> &keysyms);
    bool sendKey(quint32 key, bool down);
    bool sendModifiers(quint32 depressed);
    bool flush() const;

    QString m_displayName;
    Pasteboard *m_pasteboard = nullptr;
    Pacer m_pacer;
    // Alive as long as this keyboard: a coroutine that outlived it stops.
    std::unique_ptr<QObject> m_alive = std::make_unique<QObject>();
    mutable wl_display *m_display = nullptr;
    mutable wl_registry *m_registry = nullptr;
    mutable wl_seat *m_seat = nullptr;
    mutable zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    mutable zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    mutable std::unique_ptr<QSocketNotifier> m_notifier;
    mutable bool m_keymapSent = false;
    QList<quint32> m_keysyms; // index i is on evdev key i + 1
    quint32 m_heldModifiers = 0;
};
