#pragma once

#include <QImage>
#include <QPainterPath>
#include <QWidget>

namespace tampod {

// The application's name as glowing green outline lettering between two zigzag strokes,
// stretched to whatever frame it gets. thread: main.
class WordmarkView : public QWidget {
    Q_OBJECT

public:
    static constexpr double designWidth = 435;
    static constexpr double designHeight = 52;

    explicit WordmarkView(QWidget *parent = nullptr);

    // The letter outlines and the decorative strokes in the 435 × 52 design space, built once.
    static const QPainterPath &letters();
    static const QPainterPath &marks();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage render(QSize size, double ratio) const;

    mutable QImage cache_;
};

} // namespace tampod
