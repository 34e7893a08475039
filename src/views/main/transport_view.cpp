#include "views/main/transport_view.h"

#include "views/kit/controls/continuous_corners.h"
#include "views/kit/controls/hardware_button.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"
#include "views/main/main_window_model.h"
#include "views/main/seven_segment_display.h"
#include "views/main/stereo_meter_view.h"

#include "player/player_model.h"

#include <QPainter>

namespace tampod {

namespace {

using Symbol = TransportGlyph::Symbol;

constexpr QRectF exportFrame(34, 54, 122, 38);
constexpr QRectF positionFrame(232, 12, 434, 28);
constexpr QRectF rowFrame(232, 49, 434, 48);
constexpr QRectF timeFrame(676, 48, 149, 50);
constexpr double timePadding = 12;
constexpr QRectF volumeFrame(847, 12, 222, 28);
constexpr QPointF meterOrigin(847, 54);
constexpr double cellWidth = 62;
constexpr double glyphSide = 30;

struct ButtonSpec {
    Symbol symbol;
    const QString &help;
};

const std::array<ButtonSpec, TransportView::buttonCount> buttonSpecs = {{
    {Symbol::start, MainViewText::toStart},
    {Symbol::rewind, MainViewText::rewind},
    {Symbol::stop, MainViewText::stop},
    {Symbol::play, MainViewText::play},
    {Symbol::repeatAudio, MainViewText::repeatFile},
    {Symbol::forward, MainViewText::forward},
    {Symbol::end, MainViewText::toEnd},
}};

} // namespace

TransportView::TransportView(MainWindowModel &player, std::function<void()> onExport, QWidget *parent)
    : QWidget(parent)
    , player_(player)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
    , playbackScheduler_(new RefreshScheduler([this] { refreshPlayback(); }, this))
{
    DesignScale::setDesignSize(this, designSize);
    auto *layout = new DesignScaleLayout(designSize, this);

    export_ = new HardwareButton(exportFrame.size(), this);
    export_->setLabelText(MainViewText::exportTitle, 24, true);
    export_->setAccessibleName(MainViewText::exportTitle);
    connect(export_, &QAbstractButton::clicked, this, [onExport = std::move(onExport)] {
        if (onExport)
            onExport();
    });
    layout->addWidget(export_, exportFrame);

    position_ = new HardwareSlider(positionFrame.size(), HardwareSlider::Handle::triangle,
                                   MainViewText::playbackPosition, this);
    position_->setBinding(Binding<double>(
        [this] { return player_.progress(); },
        [this](const double &value) {
            if (const auto duration = player_.selectedDuration())
                player_.seek(value * *duration);
        },
        [this](QObject *context, std::function<void()> changed) {
            return connect(&player_, &MainWindowModel::positionOrLevelsChanged, context, std::move(changed));
        }));
    // A screen reader hears the position as the time shown.
    position_->setValueText([this] { return player_.timeText(); });
    layout->addWidget(position_, positionFrame);

    const std::array<std::function<void()>, buttonCount> actions = {
        [this] { player_.seek(player_.sectionStart()); },
        [this] { player_.seek(player_.position() - PlayerModel::skipSeconds); },
        [this] { player_.pause(); },
        [this] { player_.play(); },
        [this] { player_.toggleRepeat(); },
        [this] { player_.seek(player_.position() + PlayerModel::skipSeconds); },
        [this] { player_.seek(player_.playbackEnd()); },
    };
    for (int i = 0; i < buttonCount; ++i) {
        auto *button = new HardwareButton(QSizeF(cellWidth, rowFrame.height()), this);
        button->setGlyph(buttonSpecs[i].symbol, glyphSide);
        button->setAccessibleName(buttonSpecs[i].help);
        button->setToggle(buttonSpecs[i].symbol == Symbol::play || buttonSpecs[i].symbol == Symbol::repeatAudio);
        setPlainToolTip(button, buttonSpecs[i].help);
        connect(button, &QAbstractButton::clicked, this, actions[i]);
        layout->addWidget(button, QRectF(rowFrame.left() + i * cellWidth, rowFrame.top(), cellWidth, rowFrame.height()));
        buttons_[i] = button;
    }

    time_ = new SevenSegmentDisplay(this);
    layout->addWidget(time_, timeFrame.marginsRemoved(QMarginsF(timePadding, timePadding, timePadding, timePadding)));

    volume_ = new HardwareSlider(volumeFrame.size(), HardwareSlider::Handle::bar, MainViewText::playbackVolume, this);
    volume_->setBinding(Binding<double>(
        [this] { return player_.volume(); }, [this](const double &value) { player_.setVolume(value); },
        [this](QObject *context, std::function<void()> changed) {
            return connect(&player_, &MainWindowModel::changed, context, std::move(changed));
        }));
    layout->addWidget(volume_, volumeFrame);

    meter_ = new StereoMeterView(this);
    layout->addWidget(meter_, QRectF(meterOrigin, StereoMeterView::designSize));

    scheduler_->watch(&player_, &MainWindowModel::changed);
    playbackScheduler_->watch(&player_, &MainWindowModel::positionOrLevelsChanged);
    refresh();
}

TransportView::~TransportView() = default;

HardwareButton *TransportView::button(TransportGlyph::Symbol symbol) const
{
    return buttons_[int(symbol)];
}

QSize TransportView::sizeHint() const
{
    return designSize.toSize();
}

void TransportView::refresh()
{
    const bool ready = player_.hasPrimaryExportTrack();
    export_->setEnabled(ready);
    export_->setButtonStyle({.face = true, .active = false, .blueReady = player_.primaryExportIsHighlighted()});
    setAccessibleValue(export_, ready ? MainViewText::readyToExport : MainViewText::notReady);
    setPlainToolTip(export_, player_.primaryExportHelp());

    const bool playable = player_.canPlaySelection();
    for (int i = 0; i < buttonCount; ++i) {
        const Symbol symbol = buttonSpecs[i].symbol;
        const bool lit = (symbol == Symbol::play && player_.isPlaying())
                         || (symbol == Symbol::repeatAudio && player_.isRepeating());
        buttons_[i]->setEnabled(playable);
        buttons_[i]->setButtonStyle({.face = false, .active = lit, .blueReady = false});
        setAccessibleValue(buttons_[i], lit ? MainViewText::on : MainViewText::off);
    }
    position_->setEnabled(playable);
    volume_->refresh();
    time_->setColor(player_.isPlaying() ? Theme::accent : Theme::stoppedDigits);
    refreshPlayback();
}

void TransportView::refreshPlayback()
{
    position_->refresh();
    time_->setText(player_.timeText());
    meter_->setLevels(player_.levels());
}

void TransportView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The bar's height is rounded apart from its width; the drawing spans both.
    const QSizeF s = DesignScale::stretch(this);
    painter.scale(s.width(), s.height());
    painter.fillPath(continuousRoundedRect(timeFrame, 12), Theme::timeWindow);
    // The frame around the button row: a 2-point line centred on the row's edge.
    painter.setPen(QPen(Theme::buttonRowFrame, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(continuousRoundedRect(rowFrame, 14));
}

} // namespace tampod
