#pragma once

#include "playback/waveform_detail_request.h"
#include "playback/waveform_reader.h"
#include "playback/waveform_viewport.h"

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/task_handle.h"
#include "library/audio_track.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace tampod {

class WaveformLane;

// The two channel lanes of a linked .L/.R pair, "L" above "R", read by the view itself from
// the pair's stereo working copy: the whole file at 1,024 bins, or at 65,536 while zoomed.
// thread: main only, like its load task.
class LinkedWaveformView : public QWidget {
    Q_OBJECT

public:
    using ChannelReading = std::function<Async<WaveformPeaks>(AudioTrack track, WaveformViewport viewport,
                                                              int binCount, std::optional<int> channel,
                                                              CancellationToken token)>;

    static constexpr int overviewBins = 1024;
    static constexpr int detailBins = 65536;
    static constexpr double spacing = 2;

    LinkedWaveformView(AudioTrack track, WaveformViewport viewport, QWidget *parent = nullptr);
    LinkedWaveformView(AudioTrack track, WaveformViewport viewport, ChannelReading read, QWidget *parent = nullptr);
    ~LinkedWaveformView() override;

    void set(AudioTrack track, WaveformViewport viewport);
    // What the lanes need now.
    WaveformDetailRequest request() const;

    const WaveformPeaks &left() const { return left_; }
    const WaveformPeaks &right() const { return right_; }
    // The request left and right were read for.
    const std::optional<WaveformDetailRequest> &ready() const { return ready_; }
    QWidget *lane(int channel) const;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Starts reading for the current request unless that is what the running load reads.
    void reload();
    void placeLanes();
    void updateLanes();
    double laneHeight(double height) const;

    AudioTrack track_;
    WaveformViewport viewport_;
    WaveformPeaks left_;
    WaveformPeaks right_;
    std::optional<WaveformDetailRequest> ready_;
    const ChannelReading read_;
    TaskHandle load_;
    std::optional<WaveformDetailRequest> loading_; // the request load_ reads for
    WaveformLane *const leftLane_;
    WaveformLane *const rightLane_;
};

} // namespace tampod
