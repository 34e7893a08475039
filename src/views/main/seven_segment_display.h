#pragma once

#include <QColor>
#include <QPainterPath>
#include <QString>
#include <QWidget>

#include <cstdint>

class QPainter;

namespace tampod {

// A short text of digits and colons drawn as lit seven-segment digits, the unlit segments
// faintly visible, scaled to fit and centred. thread: main.
class SevenSegmentDisplay : public QWidget {
    Q_OBJECT

public:
    // The design space: six digits and two colons take 126 of its 128 units.
    static constexpr double designWidth = 128;
    static constexpr double designHeight = 28;
    static constexpr int maxCharacters = 8;
    static constexpr double digitAdvance = 19;
    static constexpr double colonAdvance = 6;
    static constexpr double unlitOpacity = 0.07;

    explicit SevenSegmentDisplay(QWidget *parent = nullptr);

    void setText(const QString &text);
    void setColor(const QColor &color);
    QString text() const { return text_; }
    QColor color() const { return color_; }

    // Lit segments of a character, bit 0 = a (top) … bit 6 = g (middle); 0 for anything but
    // a digit.
    static std::uint8_t mask(QChar character);
    // Segment i (0 = a … 6 = g) of a digit cell whose left edge is at x = 0.
    static QPainterPath segmentPath(int segment);
    // Draws text into rect.
    static void paint(QPainter &painter, const QRectF &rect, const QString &text, const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString text_;
    QColor color_;
};

} // namespace tampod
