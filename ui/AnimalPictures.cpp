#include "AnimalPictures.h"

#include <QPainter>
#include <QPainterPath>

namespace {

void Eyes(QPainter& p, QColor iris)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(24, 30), 6, 6);
    p.drawEllipse(QPointF(40, 30), 6, 6);
    p.setBrush(iris);
    p.drawEllipse(QPointF(24, 31), 3.2, 4);
    p.drawEllipse(QPointF(40, 31), 3.2, 4);
}

void PaintCat(QPainter& p)
{
    const QColor fur(236, 150, 60), dark(150, 80, 30);
    p.setPen(QPen(dark, 1.5));
    p.setBrush(fur);
    // Pointed ears first, so the head overlaps their bases.
    p.drawPolygon(QPolygonF({QPointF(9, 28), QPointF(12, 4), QPointF(28, 16)}));
    p.drawPolygon(QPolygonF({QPointF(55, 28), QPointF(52, 4), QPointF(36, 16)}));
    p.setBrush(QColor(250, 190, 190));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(13, 22), QPointF(14, 10), QPointF(23, 17)}));
    p.drawPolygon(QPolygonF({QPointF(51, 22), QPointF(50, 10), QPointF(41, 17)}));
    p.setPen(QPen(dark, 1.5));
    p.setBrush(fur);
    p.drawEllipse(QRectF(7, 13, 50, 44));
    Eyes(p, QColor(40, 110, 40));
    p.setBrush(QColor(230, 110, 130));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(29, 39), QPointF(35, 39), QPointF(32, 43)}));
    p.setPen(QPen(dark, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(26, 40, 6, 6), 180 * 16, 180 * 16);
    p.drawArc(QRectF(32, 40, 6, 6), 180 * 16, 180 * 16);
    // Whiskers.
    p.setPen(QPen(QColor(70, 50, 30), 1));
    for (int side : {-1, 1})
        for (int k = -1; k <= 1; ++k)
            p.drawLine(QPointF(32 + side * 9, 42 + k * 0.5), QPointF(32 + side * 27, 39 + k * 5));
}

void PaintDog(QPainter& p)
{
    const QColor fur(200, 160, 110), ear(120, 80, 45), dark(90, 60, 30);
    p.setPen(QPen(dark, 1.5));
    p.setBrush(fur);
    p.drawEllipse(QRectF(10, 8, 44, 46));
    // Floppy ears hang over the sides of the head.
    p.setBrush(ear);
    QPainterPath left, right;
    left.moveTo(16, 10);
    left.cubicTo(2, 12, 0, 36, 8, 42);
    left.cubicTo(14, 44, 18, 30, 20, 14);
    right.moveTo(48, 10);
    right.cubicTo(62, 12, 64, 36, 56, 42);
    right.cubicTo(50, 44, 46, 30, 44, 14);
    p.drawPath(left);
    p.drawPath(right);
    Eyes(p, QColor(70, 40, 20));
    // Muzzle, nose and tongue.
    p.setBrush(QColor(240, 220, 190));
    p.setPen(QPen(dark, 1.2));
    p.drawEllipse(QRectF(20, 36, 24, 18));
    p.setBrush(QColor(30, 20, 15));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(27, 37, 10, 7));
    p.setBrush(QColor(235, 90, 110));
    p.drawRoundedRect(QRectF(28.5, 49, 7, 10), 3, 3);
    p.setPen(QPen(dark, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(32, 44), QPointF(32, 48));
    p.drawArc(QRectF(25, 44, 7, 6), 180 * 16, 180 * 16);
    p.drawArc(QRectF(32, 44, 7, 6), 180 * 16, 180 * 16);
}

} // namespace

QImage AnimalPicture(bool Dog)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (Dog)
        PaintDog(p);
    else
        PaintCat(p);
    return image;
}
