#include "views/main/stereo_meter_view.h"

#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"

#include "core/number_text.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tampod {

StereoMeterView::StereoMeterView(QWidget *parent)
    : QWidget(parent)
{
    makeAccessible(this, QAccessible::Indicator);
    setAccessibleName(MainViewText::meterLabel);
    setPlainToolTip(this, MainViewText::meterHelp);
    setAccessibleValue(this, valueText(levels_));
    setAttribute(Qt::WA_TranslucentBackground);
    DesignScale::setDesignSize(this, designSize);
}

void StereoMeterView::setLevels(const QList<double> &levels)
{
    if (levels_ == levels)
        return;
    levels_ = levels;
    setAccessibleValue(this, valueText(levels_));
    update();
}

bool StereoMeterView::isLit(const QList<double> &levels, int channel, int lamp)
{
    return channel >= 0 && channel < levels.size() && double(lamp) / lampCount < levels[channel];
}

QColor StereoMeterView::lampColor(int lamp)
{
    if (lamp <= 5)
        return Theme::accent;
    if (lamp <= 7)
        return Theme::meterYellow;
    if (lamp <= 9)
        return Theme::meterOrange;
    return Theme::meterRed;
}

QString StereoMeterView::valueText(const QList<double> &levels)
{
    if (std::all_of(levels.begin(), levels.end(), [](double level) { return level == 0; }))
        return MainViewText::silent;
    QStringList parts;
    for (const double level : levels)
        parts.append(NumberText::wholeQ(NumberText::toInt64(std::round(level * 100)).value_or(0))
                     + MainViewText::percent);
    return parts.join(QStringLiteral(", "));
}

QSize StereoMeterView::sizeHint() const
{
    return designSize.toSize();
}

void StereoMeterView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The lamps fit, centred, in the frame the layout rounded, so the last is never clipped.
    const double s = DesignScale::fit(QSizeF(size()), designSize);
    painter.translate((width() - designSize.width() * s) / 2, (height() - designSize.height() * s) / 2);
    painter.scale(s, s);
    painter.setPen(Qt::NoPen);
    for (int channel = 0; channel < 2; ++channel) {
        for (int lamp = 0; lamp < lampCount; ++lamp) {
            QColor color = lampColor(lamp);
            if (!isLit(levels_, channel, lamp))
                color.setAlphaF(float(unlitOpacity));
            painter.setBrush(color);
            painter.drawEllipse(QRectF(lamp * (lampSize + lampSpacing), channel * (lampSize + rowSpacing), lampSize,
                                       lampSize));
        }
    }
}

} // namespace tampod
