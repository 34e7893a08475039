#pragma once

#include <QPointF>
#include <QSizeF>

class QWidget;

// The scale from design units to device-independent pixels, for every custom-drawn widget.
namespace tampod::DesignScale {

// The size of the widget's own drawing in design units, registered once when it is made.
void setDesignSize(QWidget *widget, QSizeF size);
// The registered design size; empty without one.
QSizeF designSize(const QWidget *widget);

// s for a widget: the scale of the DesignScaleLayout that places it or its nearest placed
// ancestor, else its width over the design width of the nearest widget (itself first) with a
// registered design size. 1 outside both and at zero width, so positions divided by s stay
// finite.
double of(const QWidget *widget);
// A position in the widget in design units.
QPointF toDesign(const QWidget *widget, QPointF position);

// The widget's pixel size over its registered design size, x and y apart (1 without one). A
// layout rounds edges, so this differs from s by under a pixel across the widget; controls
// whose face fills their frame edge to edge draw with it, so they are never clipped nor leave
// a seam.
QSizeF stretch(const QWidget *widget);
QSizeF stretch(QSizeF pixels, QSizeF design);
// The largest uniform scale at which design fits in pixels, for drawings centred in their
// frame; 0 for an empty frame.
double fit(QSizeF pixels, QSizeF design);

} // namespace tampod::DesignScale
