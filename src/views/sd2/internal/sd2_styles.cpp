#include "views/sd2/internal/sd2_styles.h"

#include "views/kit/theme.h"

#include "core/number_text.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace tampod::SD2Style {

namespace {

constexpr int barSteps = 1000;

} // namespace

QFont font(double pixelSize, bool bold)
{
    QFont font;
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    font.setBold(bold);
    return font;
}

QLabel *label(double pixelSize, const std::optional<QColor> &color, QWidget *parent, bool bold)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font(pixelSize, bold));
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    if (color) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, *color);
        label->setPalette(palette);
    }
    return label;
}

QProgressBar *progressBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, barSteps);
    bar->setTextVisible(false);
    bar->setFixedHeight(6);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, Theme::accent);
    bar->setPalette(palette);
    return bar;
}

void setProgress(QProgressBar *bar, double progress)
{
    const auto steps = NumberText::toInt32(std::round(std::clamp(progress, 0.0, 1.0) * barSteps));
    const int value = steps.value_or(0);
    if (bar->value() != value)
        bar->setValue(value);
}

} // namespace tampod::SD2Style
