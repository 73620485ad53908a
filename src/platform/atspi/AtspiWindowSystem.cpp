#include "platform/atspi/AtspiWindowSystem.h"

#include "common/Log.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QHash>

namespace
{

const QString registryService = QStringLiteral("org.a11y.atspi.Registry");
const QString registryPath = QStringLiteral("/org/a11y/atspi/registry");
const QString registryInterface = QStringLiteral("org.a11y.atspi.Registry");
const QString windowEvents = QStringLiteral("org.a11y.atspi.Event.Window");
const QString objectEvents = QStringLiteral("org.a11y.atspi.Event.Object");
// Toolkits send only the events someone registered for: GTK 3 and Qt say
// window:activate and window:deactivate, GTK 4 only the state change.
const QStringList eventsFollowed = { QStringLiteral("window:activate"), QStringLiteral("window:deactivate"),
    QStringLiteral("object:state-changed:active") };
// Set on every id of ours: X window ids (29 bits) never collide with them.
constexpr WindowSystem::WindowId accessibleWindowBit = WindowSystem::WindowId(1)
    << (sizeof(quintptr) * 8 - 1);

WindowSystem::WindowId windowId(const QString &application, const QString &path)
{
    return WindowSystem::WindowId(qHash(application + u'\n' + path)) | accessibleWindowBit;
}

} // namespace

std::optional<QDBusConnection> AtspiWindowSystem::connectToAccessibilityBus(
    const QDBusConnection &sessionBus, int timeoutMs)
{
    if (!sessionBus.isConnected())
        return std::nullopt;
    const QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusReply<QString> address = sessionBus.call(call, QDBus::Block, timeoutMs);
    if (!address.isValid() || address.value().isEmpty())
        return std::nullopt;
    QDBusConnection bus
        = QDBusConnection::connectToBus(address.value(), QStringLiteral("tellwind-accessibility"));
    if (!bus.isConnected())
        return std::nullopt;
    return bus;
}

AtspiWindowSystem::AtspiWindowSystem(
    std::unique_ptr<WindowSystem> windows, QDBusConnection accessibilityBus, QObject *parent)
    : QObject(parent)
    , m_windows(std::move(windows))
    , m_bus(std::move(accessibilityBus))
    , m_applicationWatcher(
          new QDBusServiceWatcher(QString(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
{
    // Every application's windows: a window is its sender and object path.
    m_bus.connect(QString(), QString(), windowEvents, QStringLiteral("Activate"), this,
        SLOT(windowActivated(QDBusMessage)));
    m_bus.connect(QString(), QString(), windowEvents, QStringLiteral("Deactivate"), this,
        SLOT(windowDeactivated(QDBusMessage)));
    // With a screen reader running, every state of every object changes on
    // this bus: the bus passes on only the one we read.
    m_bus.connect(QString(), QString(), objectEvents, QStringLiteral("StateChanged"),
        { QStringLiteral("active") }, QString(), this, SLOT(stateChanged(QDBusMessage)));
    connect(m_applicationWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        qCDebug(lcPlatform) << "The application with the active window left the accessibility bus";
        m_active = 0;
    });
    for (const QString &event : eventsFollowed) {
        QDBusMessage registration = QDBusMessage::createMethodCall(
            registryService, registryPath, registryInterface, QStringLiteral("RegisterEvent"));
        registration << event;
        m_bus.asyncCall(registration);
    }
    qCInfo(lcPlatform).noquote() << "The focused window is followed over the accessibility bus";
}

AtspiWindowSystem::~AtspiWindowSystem()
{
    for (const QString &event : eventsFollowed) {
        QDBusMessage deregistration = QDBusMessage::createMethodCall(
            registryService, registryPath, registryInterface, QStringLiteral("DeregisterEvent"));
        deregistration << event;
        m_bus.send(deregistration);
    }
}

WindowSystem::WindowId AtspiWindowSystem::focusedWindow() const
{
    // An X11 client through Xwayland: the X server knows for certain.
    if (const WindowId x11 = m_windows->focusedWindow())
        return x11;
    return m_active;
}

void AtspiWindowSystem::windowActivated(const QDBusMessage &message)
{
    setActive(message.service(), message.path(), true);
}

void AtspiWindowSystem::windowDeactivated(const QDBusMessage &message)
{
    setActive(message.service(), message.path(), false);
}

void AtspiWindowSystem::stateChanged(const QDBusMessage &message)
{
    // (kind, detail1, detail2, value, properties): detail1 is 1 when the state is set.
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(0).toString() != QLatin1String("active"))
        return;
    setActive(message.service(), message.path(), arguments.at(1).toInt() != 0);
}

void AtspiWindowSystem::setActive(const QString &application, const QString &path, bool active)
{
    const WindowId window = windowId(application, path);
    if (active) {
        m_active = window;
        m_applicationWatcher->setWatchedServices({ application });
    } else if (m_active == window) {
        // The focus went to a window that may not tell: unknown until one does.
        m_active = 0;
        m_applicationWatcher->setWatchedServices({});
    }
}
