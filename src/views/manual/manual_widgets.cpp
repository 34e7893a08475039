#include "views/manual/manual_widgets.h"

#include "views/kit/controls/continuous_corners.h"

#include <QPainter>

#include <utility>

namespace tampod {

RoundedPlate::RoundedPlate(double radius, const QColor &fill, QWidget *parent)
    : QWidget(parent)
    , radius_(radius)
    , fill_(fill)
{
}

void RoundedPlate::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(continuousRoundedRect(QRectF(rect()), radius_), fill_);
}

FittedImage::FittedImage(QImage image, QWidget *parent)
    : QWidget(parent)
    , image_(std::move(image))
{
}

void FittedImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFitted(painter, QRectF(rect()), image_);
}

void drawFitted(QPainter &painter, const QRectF &rect, const QImage &image)
{
    if (image.isNull() || rect.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QRectF target(QPointF(), QSizeF(image.size()).scaled(rect.size(), Qt::KeepAspectRatio));
    target.moveCenter(rect.center());
    painter.drawImage(target, image);
}

} // namespace tampod
