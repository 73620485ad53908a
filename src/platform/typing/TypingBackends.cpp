#include "platform/typing/TypingBackends.h"

#include "common/Log.h"
#include "platform/DesktopNotice.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/typing/null/NullTypingBackend.h"
#include "platform/typing/remotedesktop/RemoteDesktopKeyboard.h"
#include "platform/typing/remotedesktop/XwaylandLayout.h"
#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"
#include "platform/typing/xtest/XTestKeyboard.h"

#include <QCoreApplication>

namespace
{

using Serves = TypingBackendRow::Serves;

QString translated(const char *text)
{
    return QCoreApplication::translate("KeyboardChoice", text);
}

QString nothingTypesReason(const SessionInfo &session)
{
    if (session.kind == SessionInfo::Kind::none)
        return translated(QT_TRANSLATE_NOOP(
            "KeyboardChoice", "There is no graphical session (neither WAYLAND_DISPLAY nor DISPLAY is set)."));
    return translated(QT_TRANSLATE_NOOP("KeyboardChoice",
        "This desktop offers Tellwind no way to type into other applications: no virtual keyboard, no "
        "remote desktop portal and no X server."));
}

QList<TypingBackendRow> buildTable()
{
    QList<TypingBackendRow> table;

    // wlroots compositors: a keymap of our own, so any character is one key.
    // Listed is not enough: KWin lists the protocol for its own input method
    // and refuses everyone else, so a keyboard must really be made.
    TypingBackendRow virtualKeyboard;
    virtualKeyboard.name = QT_TRANSLATE_NOOP("KeyboardChoice", "Wayland virtual keyboard");
    virtualKeyboard.preference = 10;
    virtualKeyboard.serves
        = [](const SessionInfo &s) { return s.isWayland() ? Serves::ifProbed : Serves::no; };
    virtualKeyboard.probe = [](const SessionInfo &s) {
        return WaylandVirtualKeyboard::isOffered(s.waylandDisplay)
            && WaylandVirtualKeyboard(s.waylandDisplay).canSynthesizeInput();
    };
    virtualKeyboard.make = [](const TypingContext &c) {
        return std::make_unique<WaylandVirtualKeyboard>(c.session.waylandDisplay, &c.pasteboard);
    };
    table << virtualKeyboard;

    // GNOME and KDE: keysyms through the desktop's own layout.
    TypingBackendRow portal;
    portal.name = QT_TRANSLATE_NOOP("KeyboardChoice", "RemoteDesktop portal");
    portal.preference = 20;
    portal.serves = [](const SessionInfo &s) { return s.isWayland() ? Serves::ifProbed : Serves::no; };
    portal.probe = [](const SessionInfo &) { return RemoteDesktopKeyboard::isOffered(); };
    portal.make = [](const TypingContext &c) {
        auto keyboard = std::make_unique<RemoteDesktopKeyboard>(QDBusConnection::sessionBus(), &c.pasteboard);
        if (c.session.hasXwayland())
            keyboard->layoutKeysyms = xwaylandLayoutKeysyms;
        // Measured on KDE Plasma 5.27: konsole takes Ctrl+Shift+V, yet the
        // Xwayland clipboard is never read for it, so nothing is pasted (and
        // Ctrl+V reaches the terminal as a control character).
        keyboard->canPaste = c.session.desktop != SessionInfo::Desktop::kde;
        return keyboard;
    };
    table << portal;

    // X11, or the X11 clients of a Wayland desktop. On X11 it is not probed:
    // an X server still starting up is retried at each dictation, and XTEST
    // is on every X server a desktop runs.
    TypingBackendRow xtest;
    xtest.name = QT_TRANSLATE_NOOP("KeyboardChoice", "X11 (XTEST)");
    xtest.preference = 30;
    xtest.serves = [](const SessionInfo &s) {
        if (s.kind == SessionInfo::Kind::x11)
            return Serves::yes;
        return s.hasXwayland() ? Serves::ifProbed : Serves::no;
    };
    xtest.probe = [](const SessionInfo &) {
        SyntheticKeyLog unused;
        return XTestKeyboard(unused).canSynthesizeInput();
    };
    xtest.make
        = [](const TypingContext &c) { return std::make_unique<XTestKeyboard>(c.sent, &c.pasteboard); };
    xtest.limitation = [](const SessionInfo &s) {
        return s.isWayland() ? QStringLiteral("typing reaches only X11 applications on this desktop")
                             : QString();
    };
    xtest.noticeTitle = QT_TRANSLATE_NOOP("KeyboardChoice", "Tellwind types only into X11 applications");
    xtest.noticeText = QT_TRANSLATE_NOOP("KeyboardChoice",
        "This desktop offers Tellwind neither a virtual keyboard "
        "nor a remote desktop session, so dictated text reaches "
        "only applications that run through Xwayland.");
    table << xtest;

    TypingBackendRow none;
    none.name = QT_TRANSLATE_NOOP("KeyboardChoice", "none");
    none.preference = 1000;
    none.serves = [](const SessionInfo &) { return Serves::yes; };
    none.make = [](const TypingContext &c) {
        return std::make_unique<NullTypingBackend>(nothingTypesReason(c.session));
    };
    none.limitation = [](const SessionInfo &s) { return nothingTypesReason(s); };
    none.noticeTitle = QT_TRANSLATE_NOOP("KeyboardChoice", "Tellwind cannot type");
    none.noticeText = QT_TRANSLATE_NOOP("KeyboardChoice",
        "This desktop offers Tellwind no way to type into other "
        "applications: no virtual keyboard, no remote desktop "
        "portal and no X server.");
    table << none;

    std::stable_sort(table.begin(), table.end(),
        [](const TypingBackendRow &a, const TypingBackendRow &b) { return a.preference < b.preference; });
    return table;
}

} // namespace

const QList<TypingBackendRow> &typingBackendTable()
{
    static const QList<TypingBackendRow> table = buildTable();
    return table;
}

QString TypingChoice::name() const
{
    return row ? QString::fromLatin1(row->name) : QStringLiteral("none");
}

QString TypingChoice::displayName() const
{
    return translated(row ? row->name : "none");
}

TypingChoice chooseTypingBackend(const SessionInfo &session, const QList<TypingBackendRow> &table)
{
    for (const TypingBackendRow &row : table) {
        const Serves serves = row.serves ? row.serves(session) : Serves::no;
        if (serves == Serves::no)
            continue;
        if (serves == Serves::ifProbed && !(row.probe && row.probe(session)))
            continue;
        return { &row, row.limitation ? row.limitation(session) : QString() };
    }
    return {};
}

TypingSetup makeTypingBackend(const TypingContext &context)
{
    return makeTypingBackend(context, typingBackendTable());
}

TypingSetup makeTypingBackend(const TypingContext &context, const QList<TypingBackendRow> &table)
{
    TypingSetup setup;
    setup.choice = chooseTypingBackend(context.session, table);
    const TypingBackendRow *row = setup.choice.row;
    setup.backend = row && row->make
        ? row->make(context)
        : std::make_unique<NullTypingBackend>(nothingTypesReason(context.session));
    const SessionInfo &session = context.session;
    if (setup.choice.limitation.isEmpty()) {
        qCInfo(lcPlatform).noquote() << "Typing backend:" << setup.choice.name() << "on"
                                     << session.describe();
        return setup;
    }
    qCWarning(lcPlatform).noquote() << "Typing backend:" << setup.choice.name() << "on" << session.describe()
                                    << "-" << setup.choice.limitation;
    // Once, at the start: the user would otherwise dictate into a window
    // that never receives anything and not know why.
    if (row && row->noticeTitle && session.kind != SessionInfo::Kind::none)
        showDesktopNotice(translated(row->noticeTitle), translated(row->noticeText));
    return setup;
}
