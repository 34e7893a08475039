#include "views/waveform/linked_waveform_view.h"

#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/theme.h"
#include "views/waveform/internal/waveform_painting.h"
#include "views/waveform/waveform_envelope.h"
#include "views/waveform/waveform_texts.h"

#include "concurrency/thread_role.h"

#include <QPainter>
#include <QPointer>

#include <algorithm>

namespace tampod {

// One channel: its envelope with the lane's name in the top-left corner. It takes no pointer
// actions, so a drag over it reaches the pane.
class WaveformLane final : public QWidget {
public:
    WaveformLane(QString name, QWidget *parent) : QWidget(parent), name_(std::move(name))
    {
        setAttribute(Qt::WA_NoSystemBackground);
        setAccessibleName(name_ == WaveformText::leftLane ? WaveformText::leftLaneLabel : WaveformText::rightLaneLabel);
    }

    void set(const WaveformPeaks &peaks, WaveformViewport viewport)
    {
        if (WaveformEnvelope::samePeaks(peaks_, peaks) && viewport_ == viewport)
            return;
        peaks_ = peaks;
        viewport_ = viewport;
        update();
    }
    const WaveformPeaks &peaks() const { return peaks_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const double s = DesignScale::of(this);
        QPainter painter(this);
        painter.scale(s, s);
        WaveformEnvelope::draw(painter, peaks_, WaveformViewport{0, 1}, viewport_, WaveformPainting::designSize(this, s));

        const QFont font = WaveformPainting::font(10, QFont::Bold, s);
        constexpr double padding = 4;
        const double textWidth = WaveformPainting::advance(font, s, name_);
        const double textHeight = WaveformPainting::lineHeight(font, s);
        painter.fillRect(QRectF(0, 0, textWidth + 2 * padding, textHeight + 2 * padding), Theme::lanePlate);
        painter.setPen(Theme::brightText);
        WaveformPainting::drawText(painter, s, font, padding, padding, textHeight, name_);
    }

private:
    const QString name_;
    WaveformPeaks peaks_;
    WaveformViewport viewport_;
};

LinkedWaveformView::LinkedWaveformView(AudioTrack track, WaveformViewport viewport, QWidget *parent)
    : LinkedWaveformView(
          std::move(track), viewport,
          [](AudioTrack t, WaveformViewport v, int bins, std::optional<int> channel, CancellationToken token) {
              return WaveformReader::read(std::move(t), v, bins, channel, std::move(token));
          },
          parent)
{
}

LinkedWaveformView::LinkedWaveformView(AudioTrack track, WaveformViewport viewport, ChannelReading read,
                                       QWidget *parent)
    : QWidget(parent), track_(std::move(track)), viewport_(viewport), read_(std::move(read)),
      leftLane_(new WaveformLane(WaveformText::leftLane, this)),
      rightLane_(new WaveformLane(WaveformText::rightLane, this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    updateLanes();
}

LinkedWaveformView::~LinkedWaveformView()
{
    load_.cancel();
}

void LinkedWaveformView::set(AudioTrack track, WaveformViewport viewport)
{
    track_ = std::move(track);
    viewport_ = viewport;
    updateLanes();
    if (isVisible())
        reload();
}

WaveformDetailRequest LinkedWaveformView::request() const
{
    return {track_.id, track_.audioURL(), viewport_ != WaveformViewport{0, 1}};
}

QWidget *LinkedWaveformView::lane(int channel) const
{
    return channel == 0 ? leftLane_ : rightLane_;
}

void LinkedWaveformView::showEvent(QShowEvent *)
{
    reload();
}

void LinkedWaveformView::resizeEvent(QResizeEvent *)
{
    placeLanes();
}

double LinkedWaveformView::laneHeight(double height) const
{
    return std::max((height - 1 - 2 * spacing) / 2, 0.0);
}

void LinkedWaveformView::placeLanes()
{
    const double s = DesignScale::of(this);
    const QSizeF size = WaveformPainting::designSize(this, s);
    const double lane = laneHeight(size.height());
    leftLane_->setGeometry(DesignScaleLayout::scaled(QRectF(0, 0, size.width(), lane), s));
    rightLane_->setGeometry(DesignScaleLayout::scaled(QRectF(0, lane + 1 + 2 * spacing, size.width(), lane), s));
}

void LinkedWaveformView::paintEvent(QPaintEvent *)
{
    const double s = DesignScale::of(this);
    const QSizeF size = WaveformPainting::designSize(this, s);
    QPainter painter(this);
    painter.scale(s, s);
    painter.fillRect(QRectF(0, laneHeight(size.height()) + spacing, size.width(), 1), Theme::border);
}

void LinkedWaveformView::updateLanes()
{
    const bool current = ready_ == request();
    leftLane_->set(current ? left_ : WaveformPeaks(), viewport_);
    rightLane_->set(current ? right_ : WaveformPeaks(), viewport_);
}

void LinkedWaveformView::reload()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const WaveformDetailRequest wanted = request();
    if (loading_ == wanted)
        return;
    load_.cancel();
    loading_ = wanted;
    const int bins = wanted.isZoomed ? detailBins : overviewBins;
    QPointer<LinkedWaveformView> self(this);
    // One channel after the other, never both at once; a cancelled load changes nothing.
    load_ = TaskHandle::start([self, read = read_, track = track_, wanted, bins](CancellationToken token) -> QCoro::Task<> {
        const WaveformPeaks left = co_await read(track, WaveformViewport{0, 1}, bins, 0, token);
        if (token.isCancelled())
            co_return;
        const WaveformPeaks right = co_await read(track, WaveformViewport{0, 1}, bins, 1, token);
        if (token.isCancelled() || !self)
            co_return;
        self->left_ = left;
        self->right_ = right;
        self->ready_ = wanted;
        self->updateLanes();
    });
}

} // namespace tampod
