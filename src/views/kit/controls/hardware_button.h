#pragma once

#include "views/kit/controls/transport_glyph.h"

#include <QAbstractButton>
#include <QColor>
#include <QPainterPath>
#include <QSizeF>

#include <optional>

namespace tampod {

// The look of a hardware button: an optional raised face, a lit (accent) label, and a blue
// face for the one action that is ready.
struct HardwareButtonStyle {
    bool face = false;
    bool active = false;
    bool blueReady = false;

    static constexpr double cornerRadius = 10;

    QColor labelColor(bool enabled) const;
    // The face's fill; none without a face.
    std::optional<QColor> faceColor(bool enabled, bool pressed) const;
    static double opacity(bool pressed) { return pressed ? 0.75 : 1; }

    bool operator==(const HardwareButtonStyle &) const = default;
};

// A button drawn in that style at a fixed design size, scaled with its width. Its label is a
// shape filled in the label colour (a glyph, a symbol) or a text; the whole frame takes
// clicks. Takes focus only from the keyboard, like the hardware it imitates. thread: main.
class HardwareButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit HardwareButton(QSizeF designSize, QWidget *parent = nullptr);

    void setButtonStyle(const HardwareButtonStyle &style);
    // A toggle is a checkable element for a screen reader, checked exactly while its style is
    // lit; pressing it only asks for the change, which comes back as the lit style.
    void setToggle(bool toggle);
    const HardwareButtonStyle &buttonStyle() const { return style_; }

    // A shape in design units of the button's frame.
    void setLabelPath(const QPainterPath &path);
    // A transport symbol side × side, centred in the frame.
    void setGlyph(TransportGlyph::Symbol symbol, double side);
    // A text of the system font at a design pixel size, centred.
    void setLabelText(const QString &text, double pixelSize, bool bold);

    QSizeF designSize() const { return designSize_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void nextCheckState() override {}

private:
    QSizeF designSize_;
    HardwareButtonStyle style_;
    QPainterPath labelPath_;
    double textSize_ = 0;
    bool bold_ = false;
};

} // namespace tampod
