#pragma once

#include "platform/TypingBackend.h"

#include <QHash>
#include <QList>
#include <QString>

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
    explicit WaylandVirtualKeyboard(QString displayName);
    ~WaylandVirtualKeyboard() override;

    // Whether the compositor at `displayName` advertises the protocol.
    static bool isOffered(const QString &displayName);

    bool isTrusted() const override;
    bool requestTrust() override;

    QCoro::Task<> prepareKeystroke() override;
    bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) override;

    bool typesCharacters() const override { return true; }
    void prepareCharacters(const QStringList &characters) override;
    bool postCharacter(const QString &character, bool keyDown) override;

    // The keysym a grapheme is typed with; 0 for one that is no single
    // character (a base with combining marks the text has no precomposed
    // form for, an emoji sequence).
    static quint32 keysymFor(const QString &character);
    // The keymap text for keysyms on consecutive keys from the first
    // keycode on.
    static QByteArray keymapText(const QList<quint32> &keysyms);

private:
    bool connect() const;
    void disconnect() const;
    void dispatch() const;
    // The evdev key of `keysym`, uploading a new keymap when it has none.
    std::optional<quint32> keyFor(quint32 keysym);
    bool uploadKeymap(const QList<quint32> &keysyms);
    bool sendKey(quint32 key, bool down);
    bool sendModifiers(quint32 depressed);
    bool flush() const;

    QString m_displayName;
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
