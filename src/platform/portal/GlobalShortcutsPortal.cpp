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

QVariantList bindArguments(
    const QString &session, const QString &id, const QString &description, const QString &preferredTrigger)
{
    QVariantMap details;
    details.insert(QStringLiteral("description"), description);
    details.insert(QStringLiteral("preferred_trigger"), preferredTrigger);
    return { QVariant::fromValue(QDBusObjectPath(session)),
        QVariant::fromValue(QList<Shortcut> { Shortcut { id, details } }), QString(), QVariantMap() };
}

QVariantList sessionOptions()
{
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), Portal::newToken());
    return { options };
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

QCoro::Task<bool> GlobalShortcutsPortal::bind(QString id, QString description, QString preferredTrigger)
{
    QPointer<GlobalShortcutsPortal> self(this);
    if (m_session.isEmpty()) {
        const Portal::Response created
            = co_await Portal::request(m_bus, interfaceName, createSessionMethod, sessionOptions(), 30s);
        if (!self)
            co_return false;
        const QVariant handle = created.results.value(QStringLiteral("session_handle"));
        const QString session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                     : handle.toString();
        if (!created.ok() || session.isEmpty()) {
            qCWarning(lcPlatform) << "The desktop opened no shortcuts session";
            co_return false;
        }
        m_session = session;
        m_bus.connect(QString::fromLatin1(Portal::service), QString::fromLatin1(Portal::path), interfaceName,
            QStringLiteral("Activated"), this,
            SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    }

    // The desktop may show its dialog here: the user takes their time.
    const Portal::Response bound = co_await Portal::request(m_bus, interfaceName, bindShortcutsMethod,
        bindArguments(m_session, id, description, preferredTrigger), 5min);
    if (!self)
        co_return false;
    if (!bound.ok()) {
        qCWarning(lcPlatform).noquote() << "The desktop did not bind the shortcut" << id;
        co_return false;
    }
    qCInfo(lcPlatform).noquote() << "Shortcut" << id << "bound through the GlobalShortcuts portal";
    co_return true;
}

void GlobalShortcutsPortal::onActivated(
    const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options)
{
    Q_UNUSED(timestamp);
    Q_UNUSED(options);
    if (session.path() == m_session)
        emit activated(id);
}
