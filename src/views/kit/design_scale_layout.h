#pragma once

#include <QFont>
#include <QLayout>
#include <QList>
#include <QRectF>
#include <QSizeF>

namespace tampod {

// Lays children out by design rectangles scaled with the width: s = width / design width.
// DesignScale::of gives a placed child, and what it holds, this s.
// Edges are rounded, not sizes, so neighbours never leave a gap or overlap at any scale.
class DesignScaleLayout : public QLayout {
public:
    explicit DesignScaleLayout(QSizeF designSize, QWidget *parent = nullptr);
    ~DesignScaleLayout() override;

    void addWidget(QWidget *widget, const QRectF &design);
    void setDesignRect(QWidget *widget, const QRectF &design);

    QSizeF designSize() const { return designSize_; }
    // The scale of the last layout pass (1 before the first).
    double scale() const { return scale_; }

    // A design rectangle in pixels at scale s, edges rounded.
    static QRect scaled(const QRectF &design, double s);
    // A widget position back in design units.
    static QPointF toDesign(const QPointF &position, double s);
    // font with its pixel size set to size at scale s (never a point size).
    static QFont scaledFont(QFont font, double size, double s);

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect &rect) override;

private:
    struct Entry {
        QLayoutItem *item;
        QRectF design;
    };
    QSizeF designSize_;
    QList<Entry> entries_;
    double scale_ = 1;
};

} // namespace tampod
