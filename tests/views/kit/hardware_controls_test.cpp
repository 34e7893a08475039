#include "views/kit/controls/hardware_button.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/seven_segment_display.h"
#include "views/main/stereo_meter_view.h"

#include "support/snapshot.h"

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using namespace tampod;

namespace {

QColor grey(double white)
{
    return QColor::fromRgbF(float(white), float(white), float(white));
}

void mouse(QWidget &widget, QEvent::Type type, double x)
{
    const QPointF local(x, widget.height() / 2.0);
    QMouseEvent event(type, local, widget.mapToGlobal(local), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

} // namespace

TEST(HardwareButtonStyle, ColourTable)
{
    const QColor blue = QColor::fromRgbF(0.039f, 0.518f, 1.0f);
    const struct {
        HardwareButtonStyle style;
        bool enabled, pressed;
        QColor label;
        std::optional<QColor> face;
    } cases[] = {
        {{.face = true, .active = false, .blueReady = true}, true, false, Qt::white, blue},
        // Disabled, a blue-ready face is the plain grey face with the dark label.
        {{.face = true, .active = false, .blueReady = true}, false, false, grey(0.1), grey(0.48)},
        {{.face = true, .active = false, .blueReady = false}, true, true, grey(0.1), grey(0.55)},
        {{.face = true, .active = true, .blueReady = false}, true, false, Theme::accent, grey(0.48)},
        {{.face = false, .active = true, .blueReady = false}, false, true, Theme::accent, std::nullopt},
        {{.face = false, .active = false, .blueReady = false}, true, false, grey(0.82), std::nullopt},
        {{.face = false, .active = false, .blueReady = false}, false, false, grey(0.65), std::nullopt},
        {{.face = false, .active = false, .blueReady = true}, true, false, Qt::white, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.style.face << c.style.active << c.style.blueReady << c.enabled << c.pressed);
        EXPECT_EQ(c.style.labelColor(c.enabled), c.label);
        EXPECT_EQ(c.style.faceColor(c.enabled, c.pressed), c.face);
    }

    // A pressed faceless lit button dims its accent label; the drawing follows the style.
    HardwareButton button(QSizeF(62, 48));
    button.resize(62, 48);
    button.setGlyph(TransportGlyph::Symbol::stop, 30);
    button.setButtonStyle({.face = false, .active = true, .blueReady = false});
    const QPoint middle(31, 24);
    EXPECT_EQ(test::render(button, 1, QStringLiteral("button-lit")).pixelColor(middle).rgb(), Theme::accent.rgb());
    button.setDown(true);
    const QColor pressed = test::render(button, 1, QStringLiteral("button-pressed")).pixelColor(middle);
    const QColor behind = button.palette().color(QPalette::Window);
    EXPECT_NEAR(pressed.greenF(), 0.75 * Theme::accent.greenF() + 0.25 * behind.greenF(), 0.01);
}

TEST(HardwareSlider, ShowsClampedWritesWithinRangeAndIgnoresMouseWhenDisabled)
{
    double stored = 1.3;
    QList<double> written;
    ObservableFlag signal;
    HardwareSlider slider(QSizeF(216, 28), HardwareSlider::Handle::triangle, QStringLiteral("Position"));
    slider.resize(216, 28);
    slider.setBinding(Binding<double>([&] { return stored; },
                                      [&](const double &v) {
                                          written.append(v);
                                          stored = v;
                                      },
                                      [&](QObject *context, std::function<void()> changed) {
                                          return QObject::connect(&signal, &ObservableFlag::valueChanged, context,
                                                                  std::move(changed));
                                      }));
    EXPECT_EQ(slider.value(), 1);
    EXPECT_EQ(slider.knobCentre(slider.value()), 216 - HardwareSlider::knobWidth / 2);
    EXPECT_TRUE(written.isEmpty());

    // A click beside the knob jumps there; dragging past either end stays within 0…1.
    mouse(slider, QEvent::MouseButtonPress, 108);
    mouse(slider, QEvent::MouseMove, 400);
    mouse(slider, QEvent::MouseMove, -50);
    mouse(slider, QEvent::MouseButtonRelease, -50);
    ASSERT_EQ(written.size(), 3);
    EXPECT_DOUBLE_EQ(written[0], 0.5);
    EXPECT_EQ(written[1], 1);
    EXPECT_EQ(written[2], 0);

    // The binding's changes are shown; NaN shows as 0.
    stored = 0.25;
    signal.setValue(!signal.value());
    EXPECT_EQ(slider.value(), 0.25);
    // A screen reader hears whole percents, rounded: 0.29 × 100 is 28.999… in doubles.
    stored = 0.29;
    slider.refresh();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&slider)->text(QAccessible::Value).toStdString(), "29%");
    stored = std::nan("");
    slider.refresh();
    EXPECT_EQ(slider.value(), 0);

    written.clear();
    slider.setEnabled(false);
    mouse(slider, QEvent::MouseButtonPress, 150);
    mouse(slider, QEvent::MouseMove, 200);
    EXPECT_TRUE(written.isEmpty());
    // Still drawn: groove and knob.
    const QImage image = test::render(slider, 2, QStringLiteral("slider-disabled"));
    EXPECT_EQ(image.pixelColor(QPoint(100, 28)).rgb(), grey(0.28).rgb());
    EXPECT_EQ(image.pixelColor(QPoint(16, 28 + 8)).rgb(), grey(0.53).rgb());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&slider)->text(QAccessible::Name), QStringLiteral("Position"));
}

TEST(SevenSegmentDisplay, MasksAdvanceAndTheEightCharacterCap)
{
    const std::uint8_t digits[] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    for (int d = 0; d < 10; ++d)
        EXPECT_EQ(SevenSegmentDisplay::mask(QChar(u'0' + d)), digits[d]) << d;
    for (const QChar other : {u'-', u' ', u':', u'a', u'٣'})
        EXPECT_EQ(SevenSegmentDisplay::mask(other), 0);
    // Segment a is a horizontal bar with pointed ends, f a vertical one.
    EXPECT_EQ(SevenSegmentDisplay::segmentPath(0).boundingRect(), QRectF(2, 0, 13, 2.5));
    EXPECT_EQ(SevenSegmentDisplay::segmentPath(5).boundingRect(), QRectF(0, 2, 2.5, 11));
    EXPECT_TRUE(SevenSegmentDisplay::segmentPath(7).isEmpty());

    // On 256 × 28 the design space sits at scale 1 with 64 on each side; the ninth
    // character is never drawn.
    const auto draw = [](const QString &text) {
        QImage image(256, 28, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        SevenSegmentDisplay::paint(painter, QRectF(0, 0, 256, 28), text, Qt::red);
        return image;
    };
    const QImage eight = draw(QStringLiteral("88:88:88"));
    EXPECT_EQ(draw(QStringLiteral("88:88:888")), eight);
    int left = 256, right = -1;
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 28; ++y)
            if (qAlpha(eight.pixel(x, y)) > 200) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_EQ(left, 64);
    EXPECT_EQ(right, 64 + 126 - 3); // the last digit ends 2 units before its advance
    // Unlit segments are faint, never absent: "-" and " " draw all seven at 7 %.
    const QImage dash = draw(QStringLiteral("-"));
    EXPECT_EQ(dash, draw(QStringLiteral(" ")));
    EXPECT_NEAR(qAlpha(dash.pixel(64 + 8, 1)) / 255.0, 0.07, 0.01);

    SevenSegmentDisplay display;
    display.setText(QStringLiteral("00:01:05"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&display);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Elapsed time"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("00:01:05"));
    EXPECT_EQ(accessible->childCount(), 0);
}

TEST(StereoMeterView, LampsAndReadings)
{
    const struct {
        QList<double> levels;
        int litLeft, litRight;
        const char *value;
    } cases[] = {
        {{0, 0.5}, 0, 6, "0 percent, 50 percent"},
        {{0, 0}, 0, 0, "Silent"},
        {{}, 0, 0, "Silent"},
        {{1}, 11, 0, "100 percent"},
        {{1.0 / 11, 0.999}, 1, 11, "9 percent, 100 percent"},
        {{std::nan(""), 2e300}, 0, 11, "0 percent, 0 percent"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        int lit[2] = {0, 0};
        for (int channel = 0; channel < 2; ++channel)
            for (int lamp = 0; lamp < StereoMeterView::lampCount; ++lamp)
                lit[channel] += StereoMeterView::isLit(c.levels, channel, lamp);
        EXPECT_EQ(lit[0], c.litLeft);
        EXPECT_EQ(lit[1], c.litRight);
        EXPECT_EQ(StereoMeterView::valueText(c.levels), QString::fromUtf8(c.value));
    }

    StereoMeterView meter;
    meter.resize(225, 40);
    meter.setLevels({0, 0.5});
    const QImage image = test::render(meter, 1, QStringLiteral("meter"));
    EXPECT_EQ(image.pixelColor(QPoint(7, 32)).rgb(), Theme::accent.rgb()); // right row, lamp 0
    EXPECT_NEAR(image.pixelColor(QPoint(7, 7)).alphaF(), 0.22, 0.01);      // left row, dark
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&meter);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("0 percent, 50 percent"));
    EXPECT_EQ(meter.toolTip(), QStringLiteral("Audio peaks after playback volume; a linear level display"));
    EXPECT_EQ(plainToolTip(QStringLiteral("<b>x</b>.wav")), QStringLiteral("<qt>&lt;b&gt;x&lt;/b&gt;.wav</qt>"));
}
