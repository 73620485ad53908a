#include "platform/portal/RemoteDesktopKeyboard.h"

#include "common/NextSignal.h"
#include "common/Settings.h"
#include "platform/DesktopNotice.h"
#include "platform/KeyboardBackends.h"
#include "platform/Keysyms.h"
#include "platform/portal/PortalRequest.h"
#include "platform/x11/UsAnsiKeys.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QPointer>

#include <xkbcommon/xkbcommon.h>

using namespace std::chrono_literals;

namespace
{

const QString interfaceName = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;
constexpr quint16 ansiReturn = 36;
constexpr quint16 ansiBackspace = 51;
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

RemoteDesktopKeyboard::RemoteDesktopKeyboard(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    report = [](const QString &message) { showDesktopNotice(tr("Tellwind cannot type"), message); };
    m_idle.start();
}

RemoteDesktopKeyboard::~RemoteDesktopKeyboard()
{
    if (m_modifierDown)
        sendKeysym(m_modifierDown, false);
    Portal::closeSession(m_bus, m_session);
}

bool RemoteDesktopKeyboard::isOffered(QDBusConnection bus)
{
    return Portal::property(bus, interfaceName, QStringLiteral("AvailableDeviceTypes")).toUInt()
        & keyboardDevice;
}

bool RemoteDesktopKeyboard::isTrusted() const
{
    // Asked at each recording start and before each typing run: the first
    // ask opens the session, and a refused one is asked for again only when
    // a new dictation begins.
    auto *self = const_cast<RemoteDesktopKeyboard *>(this);
    const bool newDictation = m_idle.elapsed() >= dictationGap.count();
    self->m_idle.start();
    if (m_session.isEmpty() && !m_opening && (!m_tried || newDictation))
        self->openSession();
    return true;
}

bool RemoteDesktopKeyboard::requestTrust()
{
    return isTrusted();
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
    m_modifierDown = 0;
    qCWarning(lcPlatform) << "The desktop closed the RemoteDesktop session";
    if (report)
        report(tr("The desktop ended Tellwind's typing session. Tellwind asks again at the next dictation."));
}

QCoro::Task<> RemoteDesktopKeyboard::prepareKeystroke()
{
    m_idle.start();
    if (m_opening)
        co_await nextSignal(this, &RemoteDesktopKeyboard::sessionSettled, userAnswer);
}

void RemoteDesktopKeyboard::sendKeysym(quint32 keysym, bool down)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Portal::service),
        QString::fromLatin1(Portal::path), interfaceName, QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << int(keysym)
         << uint(down ? 1 : 0);
    // Not awaited: the next key goes out at once, and the bus keeps the order.
    ++m_pending;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        --m_pending;
        if (finished->isError()) {
            if (++m_failed == 1 || m_failed % 100 == 0)
                qCWarning(lcPlatform).noquote() << "The portal refused a key:" << finished->error().message();
        }
        finished->deleteLater();
    });
}

bool RemoteDesktopKeyboard::postCharacter(const QString &character, bool keyDown)
{
    const quint32 keysym = keysymForCharacter(character);
    if (keysym == XKB_KEY_NoSymbol)
        return false;
    if (!m_session.isEmpty())
        sendKeysym(keysym, keyDown);
    // Without a session the text has nowhere to go; the user was told.
    return true;
}

bool RemoteDesktopKeyboard::postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags)
{
    quint32 keysym = XKB_KEY_NoSymbol;
    if (keyCode == ansiBackspace)
        keysym = XKB_KEY_BackSpace;
    else if (keyCode == ansiReturn)
        keysym = XKB_KEY_Return;
    else if (keyDown)
        keysym = quint32(usAnsiKeysym(keyCode, flags & shiftFlag));
    else
        keysym = m_pressed.take(keyCode); // the release names the key, not the character
    if (keysym == XKB_KEY_NoSymbol || m_session.isEmpty())
        return false;
    if (keyDown && keyCode != ansiBackspace && keyCode != ansiReturn)
        m_pressed.insert(keyCode, keysym);
    if (keyDown && (flags & commandFlag)) {
        m_modifierDown = XKB_KEY_Control_L;
        sendKeysym(m_modifierDown, true);
    }
    sendKeysym(keysym, keyDown);
    if (!keyDown && m_modifierDown)
        sendKeysym(std::exchange(m_modifierDown, 0), false);
    return true;
}
