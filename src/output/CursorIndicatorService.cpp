#include "output/CursorIndicatorService.h"

#include "common/Log.h"
#include "platform/WindowSystem.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QVariantAnimation>
#include <QWindow>

namespace
{

// The badge is 28 x 28 inside its 32 x 32 window; the ring may grow past the
// window, where it is simply cut off.
constexpr qreal badgeDiameter = 28;
constexpr qreal pulseGrowth = 0.3;
constexpr int pulseDurationMs = 1000;
const QColor badgeGreen(52, 199, 89);

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// A filled microphone about 14 px tall, centred on `centre`.
void drawMicrophone(QPainter &painter, QPointF centre)
{
    painter.save();
    painter.translate(centre);
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(-2.75, -7, 5.5, 9), 2.75, 2.75);
    QPen pen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(-4.75, -4.5, 9.5, 9.5), 180 * 16, 180 * 16);
    painter.drawLine(QPointF(0, 5), QPointF(0, 7));
    painter.drawLine(QPointF(-2.5, 7.2), QPointF(2.5, 7.2));
    painter.restore();
}

} // namespace

CursorIndicatorView::CursorIndicatorView(bool translucent)
    : QWidget(nullptr,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput
            | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint)
    , m_translucent(translucent)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(CursorIndicatorService::indicatorSize);
    if (translucent) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // Without a compositor transparent pixels are black: cut the window
        // to the badge's disc instead.
        const int inset = int((width() - badgeDiameter) / 2);
        setMask(QRegion(inset, inset, int(badgeDiameter), int(badgeDiameter), QRegion::Ellipse));
    }
    m_pulse = new QVariantAnimation(this);
    m_pulse->setStartValue(0.0);
    m_pulse->setEndValue(1.0);
    m_pulse->setDuration(pulseDurationMs);
    m_pulse->setEasingCurve(QEasingCurve::InOutQuad);
    m_pulse->setLoopCount(-1);
    connect(m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_phase = value.toReal();
        update();
    });
}

void CursorIndicatorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_isPulsing) {
        m_isPulsing = true;
        emit isPulsingChanged(true);
    }
    m_pulse->start();
}

void CursorIndicatorView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_pulse->stop();
    m_phase = 0;
}

void CursorIndicatorView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();

    if (m_translucent) {
        const qreal scale = 1.0 + pulseGrowth * m_phase;
        const qreal opacity = 0.5 * (1.0 - m_phase);
        const qreal radius = badgeDiameter / 2 * scale;
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(badgeGreen, 0.2 * opacity));
        painter.drawEllipse(centre, radius, radius);
    }

    const QRectF badge(
        centre.x() - badgeDiameter / 2, centre.y() - badgeDiameter / 2, badgeDiameter, badgeDiameter);
    QLinearGradient gradient(badge.topLeft(), badge.bottomRight());
    gradient.setColorAt(0, withAlpha(badgeGreen, 0.9));
    gradient.setColorAt(1, withAlpha(badgeGreen, 0.7));
    painter.setBrush(gradient);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(badge);
    // The border lies inside the disc's edge.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(withAlpha(Qt::white, 0.3), 1));
    painter.drawEllipse(badge.adjusted(0.5, 0.5, -0.5, -0.5));

    drawMicrophone(painter, centre);
}

CursorIndicatorService::CursorIndicatorService(
    WindowSystem &windowSystem, PointerSource pointer, QObject *parent)
    : QObject(parent)
    , m_windowSystem(windowSystem)
    , m_pointer(std::move(pointer))
{
    if (!m_pointer)
        m_pointer = [] { return QCursor::pos(); };
    m_positionTimer.setInterval(positionIntervalMs);
    QPointer<CursorIndicatorService> self(this);
    connect(&m_positionTimer, &QTimer::timeout, this, [self] {
        if (self)
            self->updatePosition();
    });
}

CursorIndicatorService::~CursorIndicatorService() = default;

void CursorIndicatorService::show()
{
    if (m_isShowing)
        return;
    if (!m_windowSystem.knowsPointerPosition()) {
        // The ring on the panel and the tray icon still show the recording.
        static bool told = false;
        if (!std::exchange(told, true))
            qCInfo(lcPlatform)
                << "Cursor badge not shown: Wayland does not tell clients where the pointer is "
                   "outside their own windows";
        return;
    }
    m_isShowing = true;
    if (!m_window) {
        m_window = std::make_unique<CursorIndicatorView>(m_windowSystem.isCompositing());
        m_window->setWindowTitle(QStringLiteral("Tellwind recording indicator"));
        m_window->winId();
        if (QWindow *handle = m_window->windowHandle())
            m_windowSystem.setOnAllDesktops(handle);
    }
    updatePosition();
    m_window->show();
    m_window->raise();
    m_positionTimer.start();
    emit isVisibleChanged(true);
    qCInfo(lcApp).noquote() << QStringLiteral("🎯 [Cursor] Indicator shown");
}

void CursorIndicatorService::hide()
{
    if (!m_isShowing)
        return;
    m_isShowing = false;
    stopTracking();
    if (m_window)
        m_window->hide();
    emit isVisibleChanged(false);
    qCInfo(lcApp).noquote() << QStringLiteral("🎯 [Cursor] Indicator hidden");
}

void CursorIndicatorService::stopTracking()
{
    m_positionTimer.stop();
}

QPoint CursorIndicatorService::badgeOrigin(QPoint pointer, std::optional<QRect> visibleFrame)
{
    const int width = indicatorSize.width();
    const int height = indicatorSize.height();
    // To the right of the pointer, the top edge 10 px below it.
    int x = pointer.x() + cursorOffset.x();
    int y = pointer.y() - cursorOffset.y();
    if (visibleFrame) {
        const int rightEdge = visibleFrame->x() + visibleFrame->width();
        const int bottomEdge = visibleFrame->y() + visibleFrame->height();
        if (rightEdge < pointer.x() + cursorOffset.x() + width)
            x = pointer.x() - cursorOffset.x() - width;
        if (y + height > bottomEdge)
            y = pointer.y() - cursorOffset.x() - height;
    }
    return { x, y };
}

void CursorIndicatorService::updatePosition()
{
    if (!m_isShowing || !m_window)
        return;
    const QPoint pointer = m_pointer();
    // The screen under the pointer, so that the badge turns at the edge the
    // pointer is actually near on a multi-monitor desktop.
    QScreen *screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    std::optional<QRect> frame;
    if (screen)
        frame = screen->availableGeometry();
    const QPoint origin = badgeOrigin(pointer, frame);
    if (m_window->pos() != origin) {
        m_window->move(origin);
        // Windows mapped since the badge was shown (a popup, a new
        // application) stack above it; it belongs on top of all of them.
        m_window->raise();
    }
}
