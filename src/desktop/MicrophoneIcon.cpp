#include "desktop/MicrophoneIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace
{

const QColor untintedGlyph(0xF5, 0xF5, 0xF5);
const QColor rim(0, 0, 0, 120);

// Capsule, the U-shaped holder, the stem and the foot, in a unit square.
void drawGlyph(QPainter &painter, qreal size, bool filled, const QColor &color, qreal extraWidth)
{
    const qreal line = size * 0.085;
    const QRectF capsule(size * 0.34, size * 0.08, size * 0.32, size * 0.50);
    QPainterPath holder;
    const QRectF arc(size * 0.22, size * 0.20, size * 0.56, size * 0.52);
    holder.arcMoveTo(arc, 180);
    holder.arcTo(arc, 180, 180);
    holder.moveTo(size * 0.5, size * 0.72);
    holder.lineTo(size * 0.5, size * 0.88);
    holder.moveTo(size * 0.33, size * 0.90);
    holder.lineTo(size * 0.67, size * 0.90);

    QPen pen(color, line + extraWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(filled ? QBrush(color) : Qt::NoBrush);
    const qreal radius = capsule.width() / 2;
    painter.drawRoundedRect(capsule, radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(holder);
}

QPixmap render(int size, bool filled, const QColor &color)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawGlyph(painter, size, filled, rim, size * 0.08);
    drawGlyph(painter, size, filled, color, 0);
    return pixmap;
}

} // namespace

QIcon microphoneIcon(bool filled, std::optional<QColor> tint)
{
    const QColor color = tint.value_or(untintedGlyph);
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(render(size, filled, color));
    return icon;
}
