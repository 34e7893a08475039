#include "views/sd2/sd2_rate_buttons.h"

#include "views/sd2/sd2_view_rules.h"
#include "views/sd2/sd2_view_texts.h"

#include "views/kit/controls/continuous_corners.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "core/number_text.h"
#include "player/player_model.h"

#include <QEvent>
#include <QPainter>

namespace tampod {

SD2RateButton::SD2RateButton(const QString &title, double textSize, QWidget *parent)
    : QAbstractButton(parent)
    , textSize_(textSize)
{
    setText(title);
    // Its design rectangle alone sizes it.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setFocusPolicy(Qt::TabFocus);
    makeAccessible(this, QAccessible::Button);
    setAccessibleValue(this, SD2ViewText::notSelected);
}

void SD2RateButton::setSelected(bool selected)
{
    if (selected_ == selected)
        return;
    selected_ = selected;
    setAccessibleValue(this, selected ? SD2ViewText::selected : SD2ViewText::notSelected);
    update();
}

void SD2RateButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

void SD2RateButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : dimmedOpacity);
    const double s = width() / designSize.width();
    // A one-pixel outline on the pixel grid, whatever the scale.
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::sd2ButtonOutline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(continuousRoundedRect(outline, cornerRadius * s));
    QFont font = DesignScaleLayout::scaledFont(this->font(), textSize_, s);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(selected_ ? Theme::accent : Theme::sd2ButtonLabel);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

SD2RateButtons::SD2RateButtons(PlayerModel &player, double sidebarDesignWidth, QWidget *parent)
    : QWidget(parent)
    , player_(player)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    const QSizeF button = SD2RateButton::designSize;
    auto *layout = new DesignScaleLayout(QSizeF(sidebarDesignWidth, 4 * button.height() + 3 * spacing), this);
    layout->setContentsMargins(0, 0, 0, 0);
    const double x = (sidebarDesignWidth - button.width()) / 2;
    for (int i = 0; i < 4; ++i) {
        const bool rate = i < 2;
        QString title, help, label;
        if (rate) {
            title = SD2ViewRules::kilohertz(rates[i]);
            help = SD2ViewText::rateHelpPrefix + title + SD2ViewText::rateHelpSuffix;
            label = SD2ViewText::recoveryLabelPrefix + title + SD2ViewText::kilohertzLabelSuffix;
        } else {
            const QString bits = NumberText::wholeQ(depths[i - 2]);
            title = bits + SD2ViewText::bitSuffix;
            help = SD2ViewText::depthHelpPrefix + bits + SD2ViewText::depthHelpSuffix;
            label = SD2ViewText::recoveryLabelPrefix + bits + SD2ViewText::bitLabelSuffix;
        }
        auto *b = new SD2RateButton(title, rate ? 24 : 19, this);
        setPlainToolTip(b, help);
        b->setAccessibleName(label);
        layout->addWidget(b, QRectF(QPointF(x, i * (button.height() + spacing)), button));
        if (rate)
            connect(b, &QAbstractButton::clicked, this, [this, r = rates[i]] { recoverRate(r); });
        else
            connect(b, &QAbstractButton::clicked, this,
                    [this, bits = depths[i - 2]] { player_.recoverSelected(bits); });
        buttons_[i] = b;
    }

    scheduler_->watch(&player_, &PlayerModel::selectedIDChanged);
    scheduler_->watch(&player_, &PlayerModel::tracksChanged);
    scheduler_->watch(&player_.recoveryQueue(), &SD2RecoveryQueue::statesChanged);
    refresh();
}

void SD2RateButtons::refresh()
{
    const auto parameters = player_.selectedRecoveryParameters();
    const auto status = player_.recoveryStatus();
    for (int i = 0; i < 4; ++i) {
        SD2RateButton *b = buttons_[i];
        bool selected = false;
        if (i < 2) {
            // A job in preparation shows its rate before the copy in use.
            if (status)
                selected = status->parameters.sampleRate == rates[i];
            else
                selected = parameters && parameters->sampleRate == rates[i];
        } else {
            selected = parameters && parameters->sampleBytes == depths[i - 2] / 8;
        }
        b->setSelected(selected);
        b->setEnabled(parameters.has_value());
    }
}

void SD2RateButtons::recoverRate(int rate)
{
    const auto current = player_.selectedRecoveryParameters();
    player_.recoverSelected(SD2Metadata{current ? current->sampleBytes : 2, rate, current ? current->channels : 2,
                                        std::nullopt, std::nullopt});
}

} // namespace tampod
