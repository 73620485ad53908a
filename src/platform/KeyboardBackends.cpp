#include "platform/KeyboardBackends.h"

#include "platform/DesktopNotice.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/portal/RemoteDesktopKeyboard.h"
#include "platform/wayland/WaylandVirtualKeyboard.h"
#include "platform/x11/XTestKeyboard.h"

#include <QCoreApplication>

namespace
{

// Types nothing, and says why whenever it is asked to.
class NullTypingBackend : public TypingBackend
{
public:
    explicit NullTypingBackend(QString reason)
        : m_reason(std::move(reason))
    {
    }

    bool isTrusted() const override { return false; }
    bool requestTrust() override
    {
        qCWarning(lcPlatform).noquote() << "Cannot type:" << m_reason;
        return false;
    }
    QCoro::Task<> prepareKeystroke() override { co_return; }
    bool postKeyEvent(quint16, bool, quint64) override { return false; }

private:
    QString m_reason;
};

} // namespace

namespace
{

const char *untranslatedName(KeyboardChoice::Kind kind)
{
    switch (kind) {
    case KeyboardChoice::Kind::virtualKeyboard:
        return QT_TRANSLATE_NOOP("KeyboardChoice", "Wayland virtual keyboard");
    case KeyboardChoice::Kind::remoteDesktop:
        return QT_TRANSLATE_NOOP("KeyboardChoice", "RemoteDesktop portal");
    case KeyboardChoice::Kind::xtest:
        return QT_TRANSLATE_NOOP("KeyboardChoice", "X11 (XTEST)");
    case KeyboardChoice::Kind::none:
        break;
    }
    return QT_TRANSLATE_NOOP("KeyboardChoice", "none");
}

} // namespace

QString KeyboardChoice::name(Kind kind)
{
    return QString::fromLatin1(untranslatedName(kind));
}

QString KeyboardChoice::displayName(Kind kind)
{
    return QCoreApplication::translate("KeyboardChoice", untranslatedName(kind));
}

KeyboardChoice chooseKeyboard(const SessionInfo &session, const KeyboardProbes &probes)
{
    auto has = [](const std::function<bool()> &probe) { return probe && probe(); };
    switch (session.kind) {
    case SessionInfo::Kind::x11:
        // Not probed: an X server still starting up is retried at each
        // dictation, and XTEST is on every X server a desktop runs.
        return { KeyboardChoice::Kind::xtest, {} };
    case SessionInfo::Kind::wayland:
        if (has(probes.virtualKeyboard))
            return { KeyboardChoice::Kind::virtualKeyboard, {} };
        if (has(probes.remoteDesktop))
            return { KeyboardChoice::Kind::remoteDesktop, {} };
        if (session.hasXwayland() && has(probes.xtest))
            return { KeyboardChoice::Kind::xtest,
                QStringLiteral("typing reaches only X11 applications on this desktop") };
        return { KeyboardChoice::Kind::none,
            QStringLiteral("the compositor offers no virtual keyboard, no RemoteDesktop portal "
                           "answers and no X server is reachable") };
    case SessionInfo::Kind::none:
        break;
    }
    return { KeyboardChoice::Kind::none,
        QStringLiteral("no graphical session (neither WAYLAND_DISPLAY nor DISPLAY)") };
}

KeyboardProbes KeyboardProbes::system(const SessionInfo &session)
{
    KeyboardProbes probes;
    // Listed is not enough: KWin lists the protocol for its own input
    // method and refuses everyone else, so a keyboard must really be made.
    probes.virtualKeyboard = [session] {
        return WaylandVirtualKeyboard::isOffered(session.waylandDisplay)
            && WaylandVirtualKeyboard(session.waylandDisplay).isTrusted();
    };
    probes.remoteDesktop = [] { return RemoteDesktopKeyboard::isOffered(); };
    probes.xtest = [] {
        SyntheticKeyLog unused;
        return XTestKeyboard(unused).isTrusted();
    };
    return probes;
}

KeyboardSink makeKeyboardSink(const SessionInfo &session, SyntheticKeyLog &sent)
{
    return makeKeyboardSink(session, KeyboardProbes::system(session), sent);
}

KeyboardSink makeKeyboardSink(const SessionInfo &session, const KeyboardProbes &probes, SyntheticKeyLog &sent)
{
    KeyboardSink sink;
    sink.choice = chooseKeyboard(session, probes);
    switch (sink.choice.kind) {
    case KeyboardChoice::Kind::virtualKeyboard:
        sink.backend = std::make_unique<WaylandVirtualKeyboard>(session.waylandDisplay);
        break;
    case KeyboardChoice::Kind::remoteDesktop:
        sink.backend = std::make_unique<RemoteDesktopKeyboard>();
        break;
    case KeyboardChoice::Kind::none:
        sink.backend = std::make_unique<NullTypingBackend>(sink.choice.limitation);
        break;
    case KeyboardChoice::Kind::xtest:
        sink.backend = std::make_unique<XTestKeyboard>(sent);
        break;
    }
    if (sink.choice.limitation.isEmpty()) {
        qCInfo(lcPlatform).noquote() << "Typing backend:" << sink.choice.name() << "on" << session.describe();
    } else {
        qCWarning(lcPlatform).noquote() << "Typing backend:" << sink.choice.name() << "on"
                                        << session.describe() << "-" << sink.choice.limitation;
        // Once, at the start: the user would otherwise dictate into a window
        // that never receives anything and not know why.
        if (sink.choice.kind == KeyboardChoice::Kind::xtest)
            showDesktopNotice(
                QCoreApplication::translate("KeyboardChoice", "Tellwind types only into X11 applications"),
                QCoreApplication::translate("KeyboardChoice",
                    "This desktop offers Tellwind neither a virtual keyboard "
                    "nor a remote desktop session, so dictated text reaches "
                    "only applications that run through Xwayland."));
        else if (sink.choice.kind == KeyboardChoice::Kind::none && session.kind != SessionInfo::Kind::none)
            showDesktopNotice(QCoreApplication::translate("KeyboardChoice", "Tellwind cannot type"),
                QCoreApplication::translate("KeyboardChoice",
                    "This desktop offers Tellwind no way to type into other "
                    "applications: no virtual keyboard, no remote desktop "
                    "portal and no X server."));
    }
    return sink;
}
