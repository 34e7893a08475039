#pragma once

#include <QPainterPath>
#include <QRectF>

namespace tampod {

// The symbols of the transport bar, the loop overlay and the sidebar, drawn on a 32 × 32 grid
// (y downwards) and fitted square and centred into any rectangle. The caller fills the path.
struct TransportGlyph {
    enum class Symbol { start, rewind, stop, play, repeatAudio, forward, end, mixer };

    Symbol symbol;

    static constexpr double grid = 32;

    QPainterPath path(const QRectF &rect) const;
    // The symbol on the design grid, unscaled.
    static QPainterPath designPath(Symbol symbol);
};

} // namespace tampod
