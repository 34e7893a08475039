#include "views/waveform/waveform_view.h"

#include "views/kit/design_scale.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/waveform/internal/waveform_painting.h"
#include "views/waveform/player_waveform_pane_model.h"
#include "views/waveform/section_loop_overlay.h"
#include "views/waveform/waveform_envelope.h"
#include "views/waveform/waveform_pane_model.h"
#include "views/waveform/waveform_texts.h"

#include "player/section_loop_coordinator.h"
#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "concurrency/thread_role.h"
#include "library/sd2_pair_audio.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace tampod {

namespace {

// A layer of the pane that only draws: presses go through it to the pane.
class PaintLayer final : public QWidget {
public:
    using Paint = std::function<void(QPainter &painter, QSizeF size, double s)>;

    PaintLayer(Paint paint, QWidget *parent) : QWidget(parent), paint_(std::move(paint))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const double s = DesignScale::of(this);
        QPainter painter(this);
        painter.scale(s, s);
        paint_(painter, WaveformPainting::designSize(this, s), s);
    }

private:
    const Paint paint_;
};

} // namespace

WaveformView::WaveformView(WaveformPaneModel &player, QWidget *parent)
    : QWidget(parent), player_(player), envelope_(new WaveformEnvelope(this)),
      marks_(new PaintLayer([this](QPainter &p, QSizeF size, double) { paintMarks(p, size); }, this)),
      hint_(new PaintLayer([this](QPainter &p, QSizeF size, double s) { paintHint(p, size, s); }, this)),
      scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    DesignScale::setDesignSize(this, designSize);
    setAccessibleName(WaveformText::paneLabel);
    scheduler_->watch(&player_, &WaveformPaneModel::selectionChanged);
    scheduler_->watch(&player_, &WaveformPaneModel::recoveryStatusChanged);
    const WaveformCoordinator &overview = player_.waveforms();
    scheduler_->watch(&overview, &WaveformCoordinator::peaksChanged);
    scheduler_->watch(&overview, &WaveformCoordinator::isLoadingChanged);
    const WaveformZoom &zoom = player_.waveformZoom();
    for (auto signal : {&WaveformZoom::amountChanged, &WaveformZoom::centerChanged, &WaveformZoom::peaksChanged,
                        &WaveformZoom::readyChanged, &WaveformZoom::isLoadingChanged})
        scheduler_->watch(&zoom, signal);
    scheduler_->watch(&player_.sectionLoop(), &SectionLoopCoordinator::rangeChanged);
    // The position changes up to 30 times a second and moves only the playhead.
    connect(&player_, &WaveformPaneModel::progressChanged, marks_, qOverload<>(&QWidget::update));
    refresh();
}

WaveformView::~WaveformView()
{
    load_.cancel();
}

WaveformView *WaveformView::forPlayer(PlayerModel &player, QWidget *parent)
{
    auto *model = new PlayerWaveformPaneModel(player);
    auto *pane = new WaveformView(*model, parent);
    // The pane's last child so far: the layers made before it are deleted first.
    model->setParent(pane);
    return pane;
}

WaveformViewport WaveformView::viewport() const
{
    if (!player_.sectionLoop().range())
        return {0, 1};
    const WaveformZoom &zoom = player_.waveformZoom();
    return WaveformViewport::centered(zoom.center(), std::exp2(6 * zoom.amount()));
}

bool WaveformView::isZoomed() const
{
    const WaveformViewport v = viewport();
    return v.start != 0 || v.end != 1;
}

WaveformDetailRequest WaveformView::request() const
{
    const auto track = player_.selectedTrack();
    return {player_.selectedID(), track ? std::optional(track->audioURL()) : std::nullopt, isZoomed()};
}

bool WaveformView::showsDetail() const
{
    const WaveformZoom &zoom = player_.waveformZoom();
    return zoom.ready() == request() && !zoom.peaks().isEmpty();
}

std::optional<QString> WaveformView::statusText() const
{
    const WaveformCoordinator &overview = player_.waveforms();
    if (!overview.peaks().isEmpty())
        return std::nullopt;
    if (!player_.selectedID())
        return WaveformText::noAudioSelected;
    if (player_.hasRecoveryStatus())
        return WaveformText::preparingRecoveredAudio;
    if (const auto track = player_.selectedTrack(); track && track->waitsForRecovery())
        return WaveformText::chooseRecovery;
    if (overview.isLoading())
        return WaveformText::preparingWaveform;
    return WaveformText::waveformUnavailable;
}

std::optional<QString> WaveformView::hintText() const
{
    if (!isZoomed())
        return std::nullopt;
    const WaveformZoom &zoom = player_.waveformZoom();
    if (zoom.isLoading())
        return WaveformText::loadingDetail;
    if (zoom.ready() == request() && zoom.peaks().isEmpty())
        return WaveformText::detailUnavailable;
    return WaveformText::dragHint;
}

std::optional<double> WaveformView::playheadX(double progress, WaveformViewport viewport, double width)
{
    const double f = (progress - viewport.start) / (viewport.end - viewport.start);
    if (!(f >= 0 && f <= 1))
        return std::nullopt;
    return std::max(std::min(width * f, width - playheadInset), playheadInset);
}

QString WaveformView::accessibleValue() const
{
    const auto track = player_.selectedTrack();
    if (!track)
        return WaveformText::noAudioSelected;
    return track->displayName();
}

void WaveformView::refresh()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const auto track = player_.selectedTrack();
    const WaveformViewport shown = viewport();

    if (track && track->pair) {
        if (lanes_) {
            lanes_->set(*track, shown);
        } else {
            lanes_ = channelReading_ ? new LinkedWaveformView(*track, shown, channelReading_, this)
                                     : new LinkedWaveformView(*track, shown, this);
            lanes_->stackUnder(marks_);
            lanes_->setGeometry(rect());
            lanes_->show();
        }
        envelope_->hide();
    } else {
        delete std::exchange(lanes_, nullptr);
        WaveformPeaks peaks;
        if (!isZoomed())
            peaks = player_.waveforms().peaks();
        else if (showsDetail())
            peaks = player_.waveformZoom().peaks();
        envelope_->set(peaks, WaveformViewport{0, 1}, shown);
        envelope_->show();
    }

    // A new current track gets a new overlay with fresh drag and focus state.
    if (player_.sectionLoop().range()) {
        if (overlay_ && overlayTrack_ != player_.selectedID())
            delete std::exchange(overlay_, nullptr);
        if (overlay_) {
            overlay_->setViewport(shown);
        } else {
            overlay_ = new SectionLoopOverlay(player_, shown, this);
            overlayTrack_ = player_.selectedID();
            overlay_->stackUnder(hint_);
            overlay_->setGeometry(rect());
            overlay_->show();
        }
    } else {
        delete std::exchange(overlay_, nullptr);
    }

    marks_->update();
    hint_->update();
    AccessibleValueSource::valueChanged(this);
    if (isVisible())
        startLoad();
}

void WaveformView::startLoad()
{
    const WaveformDetailRequest wanted = request();
    if (loading_ == wanted)
        return;
    load_.cancel();
    loading_ = wanted;
    load_ = TaskHandle::start([zoom = QPointer<WaveformZoom>(&player_.waveformZoom()), track = player_.selectedTrack(),
                               wanted](CancellationToken token) -> QCoro::Task<> {
        if (zoom)
            co_await zoom->loadDetail(track, wanted, token);
    });
}

void WaveformView::showEvent(QShowEvent *)
{
    startLoad();
}

void WaveformView::resizeEvent(QResizeEvent *)
{
    placeChildren();
}

void WaveformView::placeChildren()
{
    for (QWidget *layer : {static_cast<QWidget *>(envelope_), static_cast<QWidget *>(lanes_), marks_,
                           static_cast<QWidget *>(overlay_), hint_})
        if (layer)
            layer->setGeometry(rect());
}

void WaveformView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::panel);
}

void WaveformView::paintMarks(QPainter &painter, QSizeF size) const
{
    const double s = DesignScale::of(this);
    if (const auto status = statusText()) {
        const QFont font = WaveformPainting::font(22, QFont::Normal, s);
        painter.setPen(Theme::secondaryText);
        WaveformPainting::drawText(painter, s, font, (size.width() - WaveformPainting::advance(font, s, *status)) / 2, 0,
                                   size.height(), *status);
    }
    if (!player_.selectedID())
        return;
    if (const auto x = playheadX(player_.progress(), viewport(), size.width())) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Theme::systemRed, playheadWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawLine(QPointF(*x, playheadInset), QPointF(*x, size.height() - playheadInset));
    }
}

void WaveformView::paintHint(QPainter &painter, QSizeF size, double s) const
{
    const auto hint = hintText();
    if (!hint)
        return;
    constexpr double padding = 4;
    const QFont font = WaveformPainting::font(16, QFont::Normal, s);
    const double width = WaveformPainting::advance(font, s, *hint) + 2 * padding;
    const double height = WaveformPainting::lineHeight(font, s) + 2 * padding;
    const double x = (size.width() - width) / 2;
    const double y = size.height() - height;
    painter.fillRect(QRectF(x, y, width, height), Theme::hintPlate);
    painter.setPen(Theme::brightText);
    WaveformPainting::drawText(painter, s, font, x + padding, y + padding, height - 2 * padding, *hint);
}

void WaveformView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressPosition_ = DesignScale::toDesign(this, event->position());
    dragging_ = false;
}

void WaveformView::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressPosition_) {
        event->ignore();
        return;
    }
    const QPointF translation = DesignScale::toDesign(this, event->position()) - *pressPosition_;
    if (!dragging_ && std::hypot(translation.x(), translation.y()) >= dragThreshold)
        dragging_ = true;
    if (dragging_)
        pan(translation.x());
}

void WaveformView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!pressPosition_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressPosition_.reset();
    dragging_ = false;
    panOrigin_.reset();
}

void WaveformView::pan(double translation)
{
    const WaveformViewport shown = viewport();
    if (shown == WaveformViewport{0, 1})
        return;
    WaveformZoom &zoom = player_.waveformZoom();
    if (!panOrigin_)
        panOrigin_ = zoom.center();
    const double origin = panOrigin_.value_or(0.5);
    const double width = WaveformPainting::designSize(this, DesignScale::of(this)).width();
    const double d = translation / std::max(width, 1.0);
    zoom.pan(origin - (shown.end - shown.start) * d);
}

} // namespace tampod
