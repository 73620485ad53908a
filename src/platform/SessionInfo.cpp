#include "platform/SessionInfo.h"

#include "common/Log.h"

#include <QStringList>

namespace
{

SessionInfo::Desktop desktopFamily(const QString &currentDesktop)
{
    // XDG_CURRENT_DESKTOP is a list, most specific first ("ubuntu:GNOME").
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        const QString lower = name.trimmed().toLower();
        if (lower == QLatin1String("gnome") || lower == QLatin1String("gnome-classic"))
            return SessionInfo::Desktop::gnome;
        if (lower == QLatin1String("kde"))
            return SessionInfo::Desktop::kde;
        static const QStringList wlroots = {
            QStringLiteral("sway"),
            QStringLiteral("hyprland"),
            QStringLiteral("river"),
            QStringLiteral("labwc"),
            QStringLiteral("wayfire"),
            QStringLiteral("wlroots"),
        };
        if (wlroots.contains(lower))
            return SessionInfo::Desktop::wlroots;
    }
    return SessionInfo::Desktop::other;
}

} // namespace

SessionInfo SessionInfo::fromEnvironment(const QProcessEnvironment &environment)
{
    SessionInfo info;
    info.waylandDisplay = environment.value(QStringLiteral("WAYLAND_DISPLAY")).trimmed();
    info.x11Display = environment.value(QStringLiteral("DISPLAY")).trimmed();
    const QString currentDesktop = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"));
    info.desktopName = currentDesktop.section(QLatin1Char(':'), -1).trimmed();
    info.desktop = desktopFamily(currentDesktop);

    // The socket decides rather than XDG_SESSION_TYPE: a compositor started
    // from a console leaves "tty" there.
    const QString sessionType = environment.value(QStringLiteral("XDG_SESSION_TYPE")).trimmed().toLower();
    if (!info.waylandDisplay.isEmpty())
        info.kind = Kind::wayland;
    else if (!info.x11Display.isEmpty())
        info.kind = Kind::x11;
    else if (sessionType == QLatin1String("wayland"))
        info.kind = Kind::wayland; // libwayland's default socket, "wayland-0"
    else
        info.kind = Kind::none;
    if (info.kind == Kind::wayland && info.waylandDisplay.isEmpty())
        info.waylandDisplay = QStringLiteral("wayland-0");
    return info;
}

SessionInfo SessionInfo::current()
{
    return fromEnvironment(QProcessEnvironment::systemEnvironment());
}

QString SessionInfo::describe() const
{
    QString text;
    switch (kind) {
    case Kind::none:
        return QStringLiteral("no graphical session");
    case Kind::x11:
        text = QStringLiteral("x11");
        break;
    case Kind::wayland:
        text = QStringLiteral("wayland");
        break;
    }
    QStringList details;
    if (!desktopName.isEmpty())
        details << desktopName;
    if (hasXwayland())
        details << QStringLiteral("Xwayland");
    if (!details.isEmpty())
        text += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

bool SessionInfo::preferXwaylandForWindows()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !current().hasXwayland())
        return false;
    qCInfo(lcPlatform) << "Windows: through Xwayland, where they keep their place";
    return qputenv("QT_QPA_PLATFORM", "xcb");
}
