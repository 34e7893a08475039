#pragma once

#include "playback/waveform_detail_request.h"
#include "playback/waveform_viewport.h"

#include "concurrency/task_handle.h"
#include "views/kit/accessibility/accessible_value_source.h"
#include "views/waveform/linked_waveform_view.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace tampod {

class PlayerModel;
class RefreshScheduler;
class SectionLoopOverlay;
class WaveformEnvelope;
class WaveformPaneModel;

// The main window's waveform pane: the current track's overview, or its zoomed detail while
// the section loop is on and zoomed in, the lanes of a linked pair, the playhead, the
// section-loop overlay, a status text without an overview and a hint while zoomed. A
// horizontal drag pans the zoomed view. The pane keeps no audio of its own; it starts the
// detail loads of the zoom model. thread: main only.
class WaveformView : public QWidget, public AccessibleValueSource {
    Q_OBJECT

public:
    static constexpr double playheadInset = 2;
    static constexpr double playheadWidth = 4;
    static constexpr double dragThreshold = 3;
    // The pane's size in the main window's design space; unless a design-scaled layout places
    // it, its scale is its width over 978.
    static constexpr QSizeF designSize{978, 220};

    explicit WaveformView(WaveformPaneModel &player, QWidget *parent = nullptr);
    ~WaveformView() override;
    // A pane over the player model, owning its adapter.
    static WaveformView *forPlayer(PlayerModel &player, QWidget *parent = nullptr);

    // The part of the file shown: the whole file while the loop is off.
    WaveformViewport viewport() const;
    // The detail the pane wants.
    WaveformDetailRequest request() const;
    bool isZoomed() const;
    bool showsDetail() const;
    // The text shown without overview peaks; none while they exist.
    std::optional<QString> statusText() const;
    // The hint shown while zoomed; none otherwise.
    std::optional<QString> hintText() const;
    // The playhead's x in points for a position (a file fraction) at width w; none outside
    // the viewport.
    static std::optional<double> playheadX(double progress, WaveformViewport viewport, double width);
    // The zoom centre captured when the current drag began.
    const std::optional<double> &panOrigin() const { return panOrigin_; }

    QString accessibleValue() const override;

    WaveformEnvelope *envelope() const { return envelope_; }
    LinkedWaveformView *lanes() const { return lanes_; }
    SectionLoopOverlay *overlay() const { return overlay_; }

    // The lanes' channel reads; by default the waveform reader's.
    void setChannelReading(LinkedWaveformView::ChannelReading read) { channelReading_ = std::move(read); }

    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void pan(double translation);
    void startLoad();
    void placeChildren();
    void paintMarks(QPainter &painter, QSizeF size) const;
    void paintHint(QPainter &painter, QSizeF size, double s) const;

    WaveformPaneModel &player_;
    std::optional<double> panOrigin_;
    WaveformEnvelope *const envelope_;
    LinkedWaveformView *lanes_ = nullptr;
    QWidget *const marks_;
    SectionLoopOverlay *overlay_ = nullptr;
    std::optional<QUuid> overlayTrack_; // the current track the overlay was made for
    QWidget *const hint_;
    RefreshScheduler *const scheduler_;
    LinkedWaveformView::ChannelReading channelReading_;
    TaskHandle load_;
    std::optional<WaveformDetailRequest> loading_; // the request load_ was started for
    std::optional<QPointF> pressPosition_;         // design points, while the button is down
    bool dragging_ = false;
};

} // namespace tampod
