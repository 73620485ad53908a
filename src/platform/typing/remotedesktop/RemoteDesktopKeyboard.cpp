#include "platform/typing/remotedesktop/RemoteDesktopKeyboard.h"

#include "common/Graphemes.h"
#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Settings.h"
#include "platform/DesktopNotice.h"
#include "platform/Keysyms.h"
#include "platform/portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>

#include <qcoro/qcorodbuspendingcall.h>

#include <xkbcommon/xkbcommon.h>

using namespace std::chrono_literals;

namespace
{

const QString interfaceName = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;
// A paste the target has not read by then did not reach it; the portal's
// own round trip adds to the time the target needs to see the keys.
constexpr auto pasteTakeTimeout = 600ms;
// The layout changes rarely, and reading it costs a connection.
constexpr qint64 layoutMaximumAgeMs = 2000;
// Answers that need no one come at once; the permission dialog waits for
// the user, who may be slow but not this slow.
constexpr auto quickAnswer = 30s;
constexpr auto userAnswer = 5min;

QString handleOf(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantList sessionOptions()
{
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), Portal::newToken());
    return { options };
}

QVariantMap deviceSelection()
{
    QVariantMap selection;
    selection.insert(QStringLiteral("types"), keyboardDevice);
    selection.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
    if (const std::optional<QString> token
        = Settings::stringValue(QString::fromLatin1(RemoteDesktopKeyboard::restoreTokenKey)))
        selection.insert(QStringLiteral("restore_token"), *token);
    return selection;
}

// Built outside the coroutines: g++ 12 rejects some temporaries (string
// literals, braced lists) inside a co_await expression.
const QString createSessionMethod = QStringLiteral("CreateSession");
const QString selectDevicesMethod = QStringLiteral("SelectDevices");
const QString startMethod = QStringLiteral("Start");

QVariantList selectArguments(const QString &session)
{
    return { QVariant::fromValue(QDBusObjectPath(session)), deviceSelection() };
}

QVariantList startArguments(const QString &session)
{
    return { QVariant::fromValue(QDBusObjectPath(session)), QString(), QVariantMap() };
}

} // namespace

RemoteDesktopKeyboard::RemoteDesktopKeyboard(QDBusConnection bus, Pasteboard *pasteboard, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_pasteboard(pasteboard)
{
    report = [](const QString &message) { showDesktopNotice(tr("Tellwind cannot type"), message); };
    m_idle.start();
}

RemoteDesktopKeyboard::~RemoteDesktopKeyboard()
{
    // Not awaited: a key left down stays down for the whole seat, for every
    // later session, until the compositor restarts.
    for (auto keysym = m_down.crbegin(); keysym != m_down.crend(); ++keysym) {
        QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Portal::service),
            QString::fromLatin1(Portal::path), interfaceName, QStringLiteral("NotifyKeyboardKeysym"));
        call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << int(*keysym) << uint(0);
        m_bus.call(call, QDBus::Block, 1000);
    }
    Portal::closeSession(m_bus, m_session);
}

bool RemoteDesktopKeyboard::isOffered(QDBusConnection bus)
{
    return Portal::property(bus, interfaceName, QStringLiteral("AvailableDeviceTypes")).toUInt()
        & keyboardDevice;
}

bool RemoteDesktopKeyboard::canSynthesizeInput()
{
    // Asked at each recording start and before each typing run: the first
    // ask opens the session, and a refused one is asked for again only when
    // a new dictation begins.
    const bool newDictation = m_idle.elapsed() >= dictationGap.count();
    m_idle.start();
    if (m_session.isEmpty() && !m_opening && (!m_tried || newDictation))
        openSession();
    return true;
}

QCoro::Task<> RemoteDesktopKeyboard::openSession()
{
    QPointer<RemoteDesktopKeyboard> self(this);
    m_opening = true;
    m_tried = true;
    qCInfo(lcPlatform) << "Opening a RemoteDesktop session for typing";

    const Portal::Response created
        = co_await Portal::request(m_bus, interfaceName, createSessionMethod, sessionOptions(), quickAnswer);
    if (!self)
        co_return;
    const QString session = handleOf(created.results.value(QStringLiteral("session_handle")));
    if (!created.ok() || session.isEmpty()) {
        fail(tr("The desktop did not open a typing session."));
        co_return;
    }

    const Portal::Response selected = co_await Portal::request(
        m_bus, interfaceName, selectDevicesMethod, selectArguments(session), quickAnswer);
    if (!self)
        co_return;
    if (!selected.ok()) {
        closeSession(session);
        fail(tr("The desktop offers no keyboard for typing."));
        co_return;
    }

    const Portal::Response started
        = co_await Portal::request(m_bus, interfaceName, startMethod, startArguments(session), userAnswer);
    if (!self)
        co_return;
    if (!started.ok() || !(started.results.value(QStringLiteral("devices")).toUInt() & keyboardDevice)) {
        closeSession(session);
        fail(started.code == 1 ? tr("Typing into other applications was not allowed. Tellwind asks again at "
                                    "the next dictation.")
                               : tr("The desktop did not start the typing session. Tellwind tries again at "
                                    "the next dictation."));
        co_return;
    }
    // The permission, remembered: the next run opens its session without
    // asking the user again.
    const QString token = started.results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty())
        Settings::setString(QString::fromLatin1(restoreTokenKey), token);

    m_session = session;
    m_bus.connect(QString::fromLatin1(Portal::service), m_session,
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), this,
        SLOT(onSessionClosed()));
    m_opening = false;
    qCInfo(lcPlatform) << "RemoteDesktop session open";
    emit sessionSettled(true);
}

void RemoteDesktopKeyboard::closeSession(const QString &session)
{
    m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(Portal::service), session,
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

void RemoteDesktopKeyboard::fail(const QString &message)
{
    m_opening = false;
    m_session.clear();
    qCWarning(lcPlatform).noquote() << "RemoteDesktop typing unavailable:" << message;
    if (report)
        report(message);
    emit sessionSettled(false);
}

void RemoteDesktopKeyboard::onSessionClosed()
{
    m_bus.disconnect(QString::fromLatin1(Portal::service), m_session,
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), this,
        SLOT(onSessionClosed()));
    m_session.clear();
    m_down.clear();
    qCWarning(lcPlatform) << "The desktop closed the RemoteDesktop session";
    if (report)
        report(tr("The desktop ended Tellwind's typing session. Tellwind asks again at the next dictation."));
}

QCoro::Task<std::optional<TypingResult>> RemoteDesktopKeyboard::awaitSession()
{
    QPointer<RemoteDesktopKeyboard> self(this);
    m_idle.start();
    if (m_opening)
        co_await nextSignal(this, &RemoteDesktopKeyboard::sessionSettled, userAnswer);
    if (!self)
        co_return TypingResult::failed({});
    if (m_session.isEmpty())
        co_return TypingResult::failed(tr("Tellwind has no typing session with the desktop."));
    co_return std::nullopt;
}

QCoro::Task<bool> RemoteDesktopKeyboard::sendKeysym(quint32 keysym, bool down)
{
    QPointer<RemoteDesktopKeyboard> self(this);
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Portal::service),
        QString::fromLatin1(Portal::path), interfaceName, QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << int(keysym)
         << uint(down ? 1 : 0);
    if (down)
        m_down << keysym;
    const QDBusMessage reply = co_await m_bus.asyncCall(call);
    if (!self)
        co_return false;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_lastRefusal = reply.errorMessage();
        if (++m_failed == 1 || m_failed % 100 == 0)
            qCWarning(lcPlatform).noquote() << "The portal refused a key:" << m_lastRefusal;
        co_return false;
    }
    // A release the portal refused leaves the key listed, to be released
    // again at the end.
    if (!down)
        m_down.removeOne(keysym);
    co_return true;
}

TypingResult RemoteDesktopKeyboard::keyRefused() const
{
    return TypingResult::failed(tr("The desktop refused a key, so the text is incomplete."));
}

QCoro::Task<TypingResult> RemoteDesktopKeyboard::stroke(quint32 keysym)
{
    QPointer<RemoteDesktopKeyboard> self(this);
    const bool pressed = co_await sendKeysym(keysym, true);
    if (!self)
        co_return TypingResult::failed({});
    // Released even when the press was refused: whether the compositor saw
    // it is not known, and a key left down repeats. A refused release is
    // tried once more here, and at the end again.
    bool released = co_await sendKeysym(keysym, false);
    if (self && !released)
        co_await sendKeysym(keysym, false);
    if (!self)
        co_return TypingResult::failed({});
    co_return pressed &&released ? TypingResult::ok() : keyRefused();
}

bool RemoteDesktopKeyboard::canType(const QString &grapheme)
{
    const quint32 keysym = keysymForCharacter(grapheme);
    if (keysym == XKB_KEY_Return || keysym == XKB_KEY_Tab)
        return true;
    if (!m_layoutAge.isValid() || m_layoutAge.elapsed() > layoutMaximumAgeMs) {
        m_layout = layoutKeysyms ? layoutKeysyms() : QSet<quint32>();
        m_layoutAge.start();
    }
    if (!m_layout.isEmpty())
        return m_layout.contains(keysym);
    // Every layout a desktop offers types printable ASCII, Shift at most.
    return keysym >= 0x20 && keysym <= 0x7e;
}

QCoro::Task<TypingResult> RemoteDesktopKeyboard::typeText(QString text)
{
    QPointer<RemoteDesktopKeyboard> self(this);
    const std::optional<TypingResult> missing = co_await awaitSession();
    if (missing)
        co_return *missing;
    for (const QString &grapheme : Graphemes::split(text)) {
        const quint32 keysym = keysymForCharacter(grapheme);
        if (keysym == XKB_KEY_NoSymbol)
            co_return TypingResult::failed(tr("A character has no key to type it with."));
        const TypingResult typed = co_await stroke(keysym);
        if (!self || !typed.isOk())
            co_return typed;
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> RemoteDesktopKeyboard::erase(int graphemes)
{
    QPointer<RemoteDesktopKeyboard> self(this);
    const std::optional<TypingResult> missing = co_await awaitSession();
    if (missing)
        co_return *missing;
    for (int i = 0; i < graphemes; ++i) {
        const TypingResult erased = co_await stroke(XKB_KEY_BackSpace);
        if (!self || !erased.isOk())
            co_return erased;
    }
    co_return TypingResult::ok();
}

QCoro::Task<TypingResult> RemoteDesktopKeyboard::pressKey(KeyChord chord)
{
    QPointer<RemoteDesktopKeyboard> self(this);
    const std::optional<TypingResult> missing = co_await awaitSession();
    if (missing)
        co_return *missing;
    QList<quint32> modifiers;
    if (chord.control)
        modifiers << XKB_KEY_Control_L;
    if (chord.shift)
        modifiers << XKB_KEY_Shift_L;
    if (chord.alt)
        modifiers << XKB_KEY_Alt_L;
    bool ok = true;
    qsizetype pressed = 0;
    for (; pressed < modifiers.size() && ok; ++pressed) {
        const quint32 modifier = modifiers.at(pressed);
        ok = co_await sendKeysym(modifier, true);
        if (!self)
            co_return TypingResult::failed({});
    }
    if (ok) {
        const TypingResult struck = co_await stroke(chord.keysym);
        ok = struck.isOk();
        if (!self)
            co_return TypingResult::failed({});
    }
    // Every modifier that was pressed (or whose press was refused) goes up,
    // whatever failed: one left down stays down for the seat.
    while (pressed-- > 0) {
        const quint32 modifier = modifiers.at(pressed);
        bool released = co_await sendKeysym(modifier, false);
        if (self && !released)
            released = co_await sendKeysym(modifier, false);
        ok = released && ok;
        if (!self)
            co_return TypingResult::failed({});
    }
    co_return ok ? TypingResult::ok() : keyRefused();
}

QCoro::Task<TypingResult> RemoteDesktopKeyboard::pasteText(QString text)
{
    if (!m_pasteboard || !canPaste)
        co_return TypingResult::skipped(
            tr("This desktop lets Tellwind type only the characters of the keyboard "
               "layout, and it cannot paste the others."));
    // Terminals paste on Ctrl+Shift+V, ordinary fields on Ctrl+V; the
    // target is not known here, and the one that worked is tried first.
    static const QList<KeyChord> chords
        = { *KeyChord::parse(QStringLiteral("ctrl+shift+v")), *KeyChord::parse(QStringLiteral("ctrl+v")) };
    co_return co_await pasteThroughClipboard(
        *m_pasteboard, *this, std::move(text), chords, pasteChord, pasteTakeTimeout);
}
