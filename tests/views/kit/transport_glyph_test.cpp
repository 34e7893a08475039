#include "views/kit/controls/transport_glyph.h"

#include <QTransform>

#include <gtest/gtest.h>

using tampod::TransportGlyph;
using Symbol = TransportGlyph::Symbol;

namespace {

QPainterPath mirrored(const QPainterPath &path)
{
    return QTransform(-1, 0, 0, 1, TransportGlyph::grid, 0).map(path);
}

bool sameArea(const QPainterPath &a, const QPainterPath &b)
{
    // Equal filled areas: nothing of either is left outside the other.
    return a.subtracted(b).boundingRect().isEmpty() && b.subtracted(a).boundingRect().isEmpty();
}

} // namespace

TEST(TransportGlyph, FitsSquareAndCentredAtScaleOne)
{
    // In 64 × 32 the grid maps 1:1 with 16 empty units on either side.
    const struct {
        Symbol symbol;
        QRectF bounds; // on the design grid
    } cases[] = {
        {Symbol::start, QRectF(7, 7, 19, 18)},    {Symbol::rewind, QRectF(5, 7, 22, 18)},
        {Symbol::stop, QRectF(8, 8, 17, 17)},     {Symbol::play, QRectF(7, 2, 24, 28)},
        {Symbol::forward, QRectF(5, 7, 22, 18)},  {Symbol::end, QRectF(6, 7, 23, 18)},
        {Symbol::mixer, QRectF(2.25, 3, 27.5, 26)},
    };
    for (const auto &c : cases) {
        const QRectF bounds = TransportGlyph{c.symbol}.path(QRectF(0, 0, 64, 32)).boundingRect();
        const QRectF expected = c.bounds.translated(16, 0);
        const double tolerance = c.symbol == Symbol::mixer ? 0.05 : 1e-6; // stroked curves
        EXPECT_NEAR(bounds.left(), expected.left(), tolerance) << int(c.symbol);
        EXPECT_NEAR(bounds.top(), expected.top(), tolerance) << int(c.symbol);
        EXPECT_NEAR(bounds.right(), expected.right(), tolerance) << int(c.symbol);
        EXPECT_NEAR(bounds.bottom(), expected.bottom(), tolerance) << int(c.symbol);
    }
    // A taller rectangle centres vertically and scales by its width.
    const QRectF tall = TransportGlyph{Symbol::stop}.path(QRectF(10, 0, 64, 128)).boundingRect();
    EXPECT_NEAR(tall.left(), 10 + 16, 1e-6);
    EXPECT_NEAR(tall.top(), 32 + 16, 1e-6);
    EXPECT_NEAR(tall.width(), 34, 1e-6);
}

TEST(TransportGlyph, MirroredPairs)
{
    // rewind and forward are exact mirror images.
    EXPECT_TRUE(sameArea(mirrored(TransportGlyph::designPath(Symbol::rewind)),
                         TransportGlyph::designPath(Symbol::forward)));

    // The triangles of start and end mirror each other, their bars do not: the start bar ends
    // one unit before its triangle's tip (11), the end bar starts five after its tip (21).
    const QPainterPath start = TransportGlyph::designPath(Symbol::start);
    const QPainterPath end = TransportGlyph::designPath(Symbol::end);
    QPainterPath startBar, endBar, startTriangle, endTriangle;
    startBar.addRect(7, 7, 3, 18);
    endBar.addRect(26, 7, 3, 18);
    startTriangle = start.subtracted(startBar);
    endTriangle = end.subtracted(endBar);
    EXPECT_TRUE(sameArea(mirrored(startTriangle), endTriangle));
    EXPECT_NEAR(startTriangle.boundingRect().left(), 11, 1e-6);
    EXPECT_NEAR(endTriangle.boundingRect().right(), 21, 1e-6);
    EXPECT_FALSE(sameArea(mirrored(start), end));
}

TEST(TransportGlyph, StrokedPartsAreOutlinesAndEmptyRectanglesAreHarmless)
{
    // The repeat arrows are filled outlines of 2.5-wide strokes: the middle of the top stroke
    // is inside, a point 1.5 from its centre line is not.
    const QPainterPath repeat = TransportGlyph::designPath(Symbol::repeatAudio);
    EXPECT_TRUE(repeat.contains(QPointF(16, 8)));
    EXPECT_FALSE(repeat.contains(QPointF(16, 9.5)));
    EXPECT_TRUE(repeat.contains(QPointF(24, 8))); // inside the arrowhead
    // The mixer's knobs are rings: the knob centre on its slot is the slot's, beside it is hollow.
    const QPainterPath mixer = TransportGlyph::designPath(Symbol::mixer);
    EXPECT_TRUE(mixer.contains(QPointF(16, 10)));
    EXPECT_FALSE(mixer.contains(QPointF(14.5, 10)));
    EXPECT_TRUE(mixer.contains(QPointF(13.05, 10)));

    for (int i = 0; i <= int(Symbol::mixer); ++i) {
        const QPainterPath empty = TransportGlyph{Symbol(i)}.path(QRectF(5, 5, 0, 0));
        EXPECT_EQ(empty.boundingRect().size(), QSizeF(0, 0));
        EXPECT_EQ(empty.fillRule(), Qt::WindingFill);
    }
}
