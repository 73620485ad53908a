#include "platform/portal/GlobalShortcutsPortal.h"

#include "common/Log.h"
#include "platform/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>

using namespace std::chrono_literals;

namespace
{

const QString interfaceName = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap details;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.details;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace
{

// Built outside the coroutine: g++ 12 rejects some temporaries (string
// literals, braced lists) inside a co_await expression.
const QString createSessionMethod = QStringLiteral("CreateSession");
const QString bindShortcutsMethod = QStringLiteral("BindShortcuts");

QList<Shortcut> shortcutList(const QString &id, const QString &description, const QString &preferredTrigger)
{
    QVariantMap details;
    details.insert(QStringLiteral("description"), description);
    details.insert(QStringLiteral("preferred_trigger"), preferredTrigger);
    return { Shortcut { id, details } };
}

QVariantList bindArguments(const QString &session, const QList<Shortcut> &shortcuts)
{
    return { QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString(),
        QVariantMap() };
}

// KDE 5.27 registers only the shortcuts named when the session opens, and
// later binds nothing else while still answering success.
QVariantList sessionOptions(const QList<Shortcut> &shortcuts)
{
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), Portal::newToken());
    options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts));
    return { options };
}

// The entry for `id` among the shortcuts the desktop says it bound.
std::optional<QString> boundTrigger(const QVariant &shortcuts, const QString &id)
{
    QList<Shortcut> list;
    if (shortcuts.userType() == qMetaTypeId<QDBusArgument>())
        shortcuts.value<QDBusArgument>() >> list;
    else
        list = shortcuts.value<QList<Shortcut>>();
    for (const Shortcut &shortcut : std::as_const(list)) {
        if (shortcut.id == id)
            return shortcut.details.value(QStringLiteral("trigger_description")).toString();
    }
    return std::nullopt;
}

} // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    Portal::closeSession(m_bus, m_session);
}

bool GlobalShortcutsPortal::isOffered(QDBusConnection bus)
{
    return Portal::property(bus, interfaceName, QStringLiteral("version")).toUInt() >= 1;
}

QCoro::Task<std::optional<QString>> GlobalShortcutsPortal::bind(
    QString id, QString description, QString preferredTrigger)
{
    QPointer<GlobalShortcutsPortal> self(this);
    const QList<Shortcut> shortcuts = shortcutList(id, description, preferredTrigger);
    if (m_session.isEmpty()) {
        const Portal::Response created = co_await Portal::request(
            m_bus, interfaceName, createSessionMethod, sessionOptions(shortcuts), sessionWait);
        if (!self)
            co_return std::nullopt;
        const QVariant handle = created.results.value(QStringLiteral("session_handle"));
        const QString session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                     : handle.toString();
        if (!created.ok() || session.isEmpty()) {
            qCWarning(lcPlatform) << "The desktop opened no shortcuts session";
            co_return std::nullopt;
        }
        m_session = session;
        m_bus.connect(QString::fromLatin1(Portal::service), QString::fromLatin1(Portal::path), interfaceName,
            QStringLiteral("Activated"), this,
            SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    }

    // The desktop may show its dialog here: the user takes their time.
    const Portal::Response bound = co_await Portal::request(
        m_bus, interfaceName, bindShortcutsMethod, bindArguments(m_session, shortcuts), 5min);
    if (!self)
        co_return std::nullopt;
    std::optional<QString> trigger
        = bound.ok() ? boundTrigger(bound.results.value(QStringLiteral("shortcuts")), id) : std::nullopt;
    if (!trigger) {
        qCWarning(lcPlatform).noquote() << "The desktop did not bind the shortcut" << id;
        co_return std::nullopt;
    }
    if (trigger->isEmpty())
        trigger = preferredTrigger;
    qCInfo(lcPlatform).noquote() << "Shortcut" << id << "bound through the GlobalShortcuts portal to"
                                 << *trigger;
    co_return trigger;
}

void GlobalShortcutsPortal::onActivated(
    const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options)
{
    Q_UNUSED(timestamp);
    Q_UNUSED(options);
    if (session.path() == m_session)
        emit activated(id);
}
