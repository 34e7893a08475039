#include "views/kit/design_scale_layout.h"

#include <QWidget>
#include <QWidgetItem>

#include <cmath>

namespace tampod {

DesignScaleLayout::DesignScaleLayout(QSizeF designSize, QWidget *parent)
    : QLayout(parent)
    , designSize_(designSize)
{
    setContentsMargins(0, 0, 0, 0);
}

DesignScaleLayout::~DesignScaleLayout()
{
    for (const Entry &entry : std::as_const(entries_))
        delete entry.item;
}

void DesignScaleLayout::addWidget(QWidget *widget, const QRectF &design)
{
    addChildWidget(widget);
    entries_.append({new QWidgetItem(widget), design});
    invalidate();
}

void DesignScaleLayout::setDesignRect(QWidget *widget, const QRectF &design)
{
    for (Entry &entry : entries_) {
        if (entry.item->widget() == widget && entry.design != design) {
            entry.design = design;
            invalidate();
        }
    }
}

QRect DesignScaleLayout::scaled(const QRectF &design, double s)
{
    const int x0 = qRound(design.left() * s);
    const int y0 = qRound(design.top() * s);
    const int x1 = qRound(design.right() * s);
    const int y1 = qRound(design.bottom() * s);
    return QRect(QPoint(x0, y0), QSize(x1 - x0, y1 - y0));
}

QPointF DesignScaleLayout::toDesign(const QPointF &position, double s)
{
    return s > 0 ? position / s : QPointF();
}

QFont DesignScaleLayout::scaledFont(QFont font, double size, double s)
{
    font.setPixelSize(std::max(1, qRound(size * s)));
    return font;
}

void DesignScaleLayout::addItem(QLayoutItem *item)
{
    entries_.append({item, QRectF()});
}

QLayoutItem *DesignScaleLayout::itemAt(int index) const
{
    return index >= 0 && index < entries_.size() ? entries_[index].item : nullptr;
}

QLayoutItem *DesignScaleLayout::takeAt(int index)
{
    if (index < 0 || index >= entries_.size())
        return nullptr;
    return entries_.takeAt(index).item;
}

int DesignScaleLayout::count() const
{
    return entries_.size();
}

QSize DesignScaleLayout::sizeHint() const
{
    return designSize_.toSize();
}

QSize DesignScaleLayout::minimumSize() const
{
    return QSize(0, 0);
}

int DesignScaleLayout::heightForWidth(int width) const
{
    return designSize_.width() > 0 ? qRound(designSize_.height() * width / designSize_.width()) : 0;
}

void DesignScaleLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    scale_ = designSize_.width() > 0 ? rect.width() / designSize_.width() : 1;
    for (const Entry &entry : std::as_const(entries_))
        entry.item->setGeometry(scaled(entry.design, scale_).translated(rect.topLeft()));
}

} // namespace tampod
