#include "gui/Glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace Glyphs {

namespace {

QPixmap blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A filled arrow inside the rectangle, pointing up or down.
QPixmap verticalArrow(int width, int height, bool up, const QColor& colour)
{
    QPixmap pixmap = blank(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width, h = height;
    // Drawn pointing up; the down arrow is its mirror image.
    if (!up)
        p.setTransform(QTransform(1, 0, 0, -1, 0, h));
    QPainterPath path;
    path.moveTo(w / 2, 1);
    path.lineTo(w - 1, h * 0.45);
    path.lineTo(w * 0.68, h * 0.45);
    path.lineTo(w * 0.68, h - 1);
    path.lineTo(w * 0.32, h - 1);
    path.lineTo(w * 0.32, h * 0.45);
    path.lineTo(1, h * 0.45);
    path.closeSubpath();
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    p.drawPath(path);
    return pixmap;
}

} // namespace

QPixmap folder()
{
    QPixmap pixmap = blank(32, 32);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(QRectF(3.5, 7.5, 11, 5));
    p.drawRect(QRectF(3.5, 10.5, 25, 17));
    p.setBrush(QColor(250, 220, 120));
    QPainterPath front;
    front.moveTo(6.5, 14.5);
    front.lineTo(30.5, 14.5);
    front.lineTo(27.5, 27.5);
    front.lineTo(3.5, 27.5);
    front.closeSubpath();
    p.drawPath(front);
    return pixmap;
}

QPixmap keywordBack()
{
    return verticalArrow(18, 25, true, QColor(40, 120, 220));
}
QPixmap keywordGo()
{
    return verticalArrow(18, 25, false, QColor(40, 120, 220));
}

QPixmap heightSearch()
{
    QPixmap pixmap = blank(24, 22);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 2.5));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.setPen(QPen(QColor(90, 60, 30), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13, 13), QPointF(20, 19));
    return pixmap;
}

QPixmap goRowNumber()
{
    QPixmap pixmap = blank(50, 29);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(3, 10);
    path.lineTo(30, 10);
    path.lineTo(30, 3);
    path.lineTo(47, 14.5);
    path.lineTo(30, 26);
    path.lineTo(30, 19);
    path.lineTo(3, 19);
    path.closeSubpath();
    p.setPen(QPen(QColor(20, 100, 40), 1));
    p.setBrush(QColor(60, 180, 90));
    p.drawPath(path);
    return pixmap;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = blank(size, size);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(192, 220, 192));
        p.drawRoundedRect(QRectF(0, 0, s, s), s / 8, s / 8);
        p.setBrush(QColor(40, 120, 220));
        for (int layer = 0; layer < 4; ++layer)
            p.drawRect(QRectF(s * 0.2, s * (0.72 - 0.16 * layer), s * 0.6, s * 0.1));
        p.setBrush(QColor(220, 60, 40));
        p.drawEllipse(QRectF(s * 0.66, s * 0.08, s * 0.26, s * 0.26));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace Glyphs
