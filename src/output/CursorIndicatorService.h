#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QVariantAnimation;
class WindowSystem;

// The green microphone badge beside the pointer: a pulse ring that grows and
// fades once a second behind a gradient disc with a white microphone.
class CursorIndicatorView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool isPulsing READ isPulsing NOTIFY isPulsingChanged)

public:
    explicit CursorIndicatorView(bool translucent);

    bool isPulsing() const { return m_isPulsing; }
    // Where the pulse is, 0 (ring at rest) to 1 (grown and faded).
    qreal pulsePhase() const { return m_phase; }

signals:
    void isPulsingChanged(bool value);

protected:
    void showEvent(QShowEvent *event) override;
    // A hidden badge must not keep the animation clock ticking between recordings.
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation *m_pulse = nullptr;
    bool m_isPulsing = false;
    bool m_translucent = true;
    qreal m_phase = 0;
};

// Shows the badge next to the pointer while a recording runs and keeps it
// there. One click-through window, made on the first show and only hidden
// between recordings.
class CursorIndicatorService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)

public:
    static constexpr QPoint cursorOffset { 20, -10 };
    static constexpr QSize indicatorSize { 32, 32 };
    static constexpr int positionIntervalMs = 50;

    using PointerSource = std::function<QPoint()>;

    // `pointer` reads the pointer's global position (QCursor::pos by default).
    explicit CursorIndicatorService(
        WindowSystem &windowSystem, PointerSource pointer = {}, QObject *parent = nullptr);
    ~CursorIndicatorService() override;

    virtual void show();
    virtual void hide();
    bool isVisible() const { return m_isShowing; }

    // The badge's top-left corner for a pointer at `pointer` on a screen whose
    // usable area is `visibleFrame` (Qt's global coordinates, y downwards).
    static QPoint badgeOrigin(QPoint pointer, std::optional<QRect> visibleFrame);

    QWidget *indicatorWindow() const { return m_window.get(); }
    bool isTracking() const { return m_positionTimer.isActive(); }

signals:
    void isVisibleChanged(bool value);

private:
    void updatePosition();
    void stopTracking();

    WindowSystem &m_windowSystem;
    PointerSource m_pointer;
    std::unique_ptr<CursorIndicatorView> m_window;
    QTimer m_positionTimer;
    bool m_isShowing = false;
};
