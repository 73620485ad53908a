#include "desktop/WindowPositionManager.h"

#include "common/Log.h"
#include "common/Settings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QWindow>

#include <cmath>

using namespace std::chrono_literals;

namespace
{

// A drag brings a move event per pointer motion; each save rewrites and
// syncs the settings file, so a drag is saved this often at most, and once
// more this long after its last motion.
constexpr auto moveSaveInterval = 250ms;

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
    m_moveSaveTimer.setSingleShot(true);
    m_moveSaveTimer.setInterval(moveSaveInterval);
    connect(&m_moveSaveTimer, &QTimer::timeout, this, [this] { savePosition(m_movedWindow); });
}

WindowPositionManager::~WindowPositionManager()
{
    // A drag that ended a moment before the quit is not lost.
    if (m_moveSaveTimer.isActive())
        savePosition(m_movedWindow);
}

QString WindowPositionManager::formatCoordinate(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))
        && !text.contains(QLatin1Char('n')))
        text += QStringLiteral(".0");
    return text;
}

namespace
{

// A native Wayland window is placed by the compositor and never learns where:
// positions stored there would mean nothing.
bool positionsUnavailable()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    static bool told = false;
    if (!std::exchange(told, true))
        qCInfo(lcApp).noquote() << QStringLiteral(
            "📍 Window position memory unavailable: the Wayland compositor places the window");
    return true;
}

} // namespace

void WindowPositionManager::savePosition(QWindow *window)
{
    m_moveSaveTimer.stop();
    if (!window || positionClearedThisRun || positionsUnavailable())
        return;
    const QPoint origin = window->framePosition();
    const double x = origin.x();
    const double y = origin.y();
    // A place the next launch would throw away anyway is not worth keeping.
    const QSize size = window->frameGeometry().size();
    if (!isPositionOnScreen(x, y, size.width(), size.height()))
        return;
    const bool saved = Settings::setDouble(key(positionXKey), x) && Settings::setDouble(key(positionYKey), y)
        && Settings::setBool(key(hasStoredPositionKey), true);
    if (saved)
        qCInfo(lcApp).noquote() << QStringLiteral("💾 Window position saved: (%1, %2)")
                                       .arg(formatCoordinate(x), formatCoordinate(y));
}

void WindowPositionManager::restorePosition(QWindow *window)
{
    if (!window || positionsUnavailable())
        return;
    if (!Settings::boolValue(key(hasStoredPositionKey), false)) {
        qCInfo(lcApp).noquote() << QStringLiteral("📍 No stored window position, using default");
        return;
    }
    // A damaged file ("nan", a word, half a pair) is no place to put the
    // panel: Qt would take NaN for x -32767, out of every screen's reach.
    const std::optional<double> storedX = Settings::doubleValue(key(positionXKey));
    const std::optional<double> storedY = Settings::doubleValue(key(positionYKey));
    const double x = storedX.value_or(qQNaN());
    const double y = storedY.value_or(qQNaN());
    const QSize size = window->frameGeometry().size();
    if (!isPositionOnScreen(x, y, size.width(), size.height())) {
        qCWarning(lcApp).noquote() << QStringLiteral("⚠️ Stored position is off-screen, using default");
        forgetPosition();
        return;
    }
    window->setFramePosition(QPoint(qRound(x), qRound(y)));
    qCInfo(lcApp).noquote() << QStringLiteral("📍 Window position restored: (%1, %2)")
                                   .arg(formatCoordinate(x), formatCoordinate(y));
}

void WindowPositionManager::startObserving(QWindow *window)
{
    if (!window || positionsUnavailable())
        return;
    m_knownPositions.insert(window, window->framePosition());
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] { m_knownPositions.remove(window); });
    qCInfo(lcApp).noquote() << QStringLiteral("👁️ Started observing window position changes");
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
    m_movedWindow = window;
    if (!m_moveSaveTimer.isActive())
        m_moveSaveTimer.start();
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
    qCInfo(lcApp).noquote() << QStringLiteral("🗑️ Stored window position cleared");
}

bool WindowPositionManager::isPositionOnScreen(double x, double y, double width, double height) const
{
    // QRectF compares with NaN as if it overlapped everything.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height))
        return false;
    const QRectF rect(x, y, width, height);
    for (const QRectF &area : m_screenAreas()) {
        if (area.intersects(rect))
            return true;
    }
    return false;
}
