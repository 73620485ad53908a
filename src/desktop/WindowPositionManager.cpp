#include "desktop/WindowPositionManager.h"

#include "common/Log.h"
#include "common/Settings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QWindow>

namespace {

// After "Reset to Center" the user was told the panel returns to the centre
// at the next launch; no later move or the save at quit may undo that, in
// whichever instance it happens.
bool positionClearedThisRun = false;

QList<QRectF> availableScreenAreas()
{
    QList<QRectF> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append(QRectF(screen->availableGeometry()));
    return areas;
}

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

} // namespace

WindowPositionManager::WindowPositionManager(ScreenAreas screenAreas, QObject *parent)
    : QObject(parent)
    , m_screenAreas(screenAreas ? std::move(screenAreas) : ScreenAreas(availableScreenAreas))
{
}

QString WindowPositionManager::formatCoordinate(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('n')))
        text += QStringLiteral(".0");
    return text;
}

namespace {

// A native Wayland window is placed by the compositor and never learns where:
// positions stored there would mean nothing.
bool positionsUnavailable()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    static bool told = false;
    if (!std::exchange(told, true))
        logLine(QStringLiteral("📍 Window position memory unavailable: the Wayland compositor places the window"));
    return true;
}

} // namespace

void WindowPositionManager::savePosition(QWindow *window)
{
    if (!window || positionClearedThisRun || positionsUnavailable())
        return;
    const QPoint origin = window->framePosition();
    const double x = origin.x();
    const double y = origin.y();
    Settings::setDouble(key(positionXKey), x);
    Settings::setDouble(key(positionYKey), y);
    Settings::setBool(key(hasStoredPositionKey), true);
    logLine(QStringLiteral("💾 Window position saved: (%1, %2)").arg(formatCoordinate(x), formatCoordinate(y)));
}

void WindowPositionManager::restorePosition(QWindow *window)
{
    if (!window || positionsUnavailable())
        return;
    if (!Settings::boolValue(key(hasStoredPositionKey), false)) {
        logLine(QStringLiteral("📍 No stored window position, using default"));
        return;
    }
    const double x = Settings::doubleValue(key(positionXKey)).value_or(0.0);
    const double y = Settings::doubleValue(key(positionYKey)).value_or(0.0);
    const QSize size = window->frameGeometry().size();
    if (!isPositionOnScreen(x, y, size.width(), size.height())) {
        logLine(QStringLiteral("⚠️ Stored position is off-screen, using default"));
        forgetPosition();
        return;
    }
    window->setFramePosition(QPoint(qRound(x), qRound(y)));
    logLine(QStringLiteral("📍 Window position restored: (%1, %2)").arg(formatCoordinate(x), formatCoordinate(y)));
}

void WindowPositionManager::startObserving(QWindow *window)
{
    if (!window || positionsUnavailable())
        return;
    m_knownPositions.insert(window, window->framePosition());
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] { m_knownPositions.remove(window); });
    logLine(QStringLiteral("👁️ Started observing window position changes"));
}

bool WindowPositionManager::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Move)
        windowDidMove(qobject_cast<QWindow *>(watched));
    return QObject::eventFilter(watched, event);
}

void WindowPositionManager::windowDidMove(QWindow *window)
{
    if (!window)
        return;
    const QPoint position = window->framePosition();
    auto known = m_knownPositions.find(window);
    if (known != m_knownPositions.end()) {
        if (*known == position)
            return;
        *known = position;
    }
    savePosition(window);
}

void WindowPositionManager::clearPosition()
{
    positionClearedThisRun = true;
    forgetPosition();
}

void WindowPositionManager::forgetPosition()
{
    Settings::remove(key(positionXKey));
    Settings::remove(key(positionYKey));
    Settings::setBool(key(hasStoredPositionKey), false);
    logLine(QStringLiteral("🗑️ Stored window position cleared"));
}

bool WindowPositionManager::isPositionOnScreen(double x, double y, double width, double height) const
{
    const QRectF rect(x, y, width, height);
    for (const QRectF &area : m_screenAreas()) {
        if (area.intersects(rect))
            return true;
    }
    return false;
}
