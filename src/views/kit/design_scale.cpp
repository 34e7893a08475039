#include "views/kit/design_scale.h"

#include "views/kit/design_scale_layout.h"

#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace tampod::DesignScale {

namespace {

constexpr char property[] = "tampodDesignSize";

// The layout placing widget, if it is a design-scaled one.
const DesignScaleLayout *placingLayout(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    const auto *layout = parent ? dynamic_cast<const DesignScaleLayout *>(parent->layout()) : nullptr;
    return layout && layout->indexOf(widget) >= 0 ? layout : nullptr;
}

double ratio(double pixels, double design)
{
    return design > 0 ? pixels / design : 0;
}

} // namespace

void setDesignSize(QWidget *widget, QSizeF size)
{
    widget->setProperty(property, size);
}

QSizeF designSize(const QWidget *widget)
{
    return widget ? widget->property(property).toSizeF() : QSizeF();
}

double of(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        double s = 0;
        if (const DesignScaleLayout *layout = placingLayout(w))
            s = layout->scale();
        else if (const QSizeF design = designSize(w); !design.isEmpty())
            s = ratio(w->width(), design.width());
        else
            continue;
        return s > 0 ? s : 1;
    }
    return 1;
}

QPointF toDesign(const QWidget *widget, QPointF position)
{
    return position / of(widget);
}

QSizeF stretch(const QWidget *widget)
{
    const QSizeF design = designSize(widget);
    return design.isEmpty() ? QSizeF(1, 1) : stretch(QSizeF(widget->size()), design);
}

QSizeF stretch(QSizeF pixels, QSizeF design)
{
    return {ratio(pixels.width(), design.width()), ratio(pixels.height(), design.height())};
}

double fit(QSizeF pixels, QSizeF design)
{
    const QSizeF s = stretch(pixels, design);
    return std::min(s.height(), s.width());
}

} // namespace tampod::DesignScale
