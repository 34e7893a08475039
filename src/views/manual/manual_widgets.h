#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace tampod {

// A plate behind a note or a figure: a rounded rectangle with continuous corners.
class RoundedPlate : public QWidget {
    Q_OBJECT

public:
    RoundedPlate(double radius, const QColor &fill, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double radius_;
    QColor fill_;
};

// An image drawn scaled to fit the widget, aspect kept and centred, so it stays sharp at any
// pixel ratio.
class FittedImage : public QWidget {
    Q_OBJECT

public:
    explicit FittedImage(QImage image, QWidget *parent = nullptr);
    const QImage &image() const { return image_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage image_;
};

// Draws image fitted into rect, aspect kept and centred.
void drawFitted(QPainter &painter, const QRectF &rect, const QImage &image);

} // namespace tampod
