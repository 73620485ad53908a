#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QTimer>

#include <functional>

class QWindow;

// Remembers where the user left the floating panel and puts it back there at
// the next launch, as long as that place is still on a screen. Positions are
// the top-left corner of the window frame in Qt's global coordinates.
class WindowPositionManager : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *positionXKey = "windowPositionX";
    static constexpr const char *positionYKey = "windowPositionY";
    static constexpr const char *hasStoredPositionKey = "hasStoredWindowPosition";

    // The usable area of every screen, in the order the desktop lists them.
    using ScreenAreas = std::function<QList<QRectF>()>;

    explicit WindowPositionManager(ScreenAreas screenAreas = {}, QObject *parent = nullptr);
    ~WindowPositionManager() override;

    void savePosition(QWindow *window);
    void restorePosition(QWindow *window);
    void startObserving(QWindow *window);
    Q_INVOKABLE void clearPosition();
    bool isPositionOnScreen(double x, double y, double width, double height) const;

    // "12.0", "-3.5": shortest form, always with a fractional digit.
    static QString formatCoordinate(double value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowDidMove(QWindow *window);
    void forgetPosition();

    ScreenAreas m_screenAreas;
    // Where each observed window was last seen, so that a move event that
    // does not change the place is not taken for the user's move.
    QHash<QWindow *, QPoint> m_knownPositions;
    QPointer<QWindow> m_movedWindow;
    QTimer m_moveSaveTimer;
};
