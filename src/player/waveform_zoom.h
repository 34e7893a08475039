#pragma once

#include "playback/section_range.h"
#include "playback/waveform_detail_request.h"
#include "playback/waveform_reader.h"
#include "playback/waveform_viewport.h"

#include "concurrency/generation.h"
#include "concurrency/task_handle.h"
#include "library/audio_track.h"

#include <QCoro/QCoroTask>
#include <QObject>

#include <optional>

namespace tampod {

// The zoom of the waveform pane and its detail peaks. The detail always covers the whole file
// (65,536 bins by default), so zooming and panning within one request read nothing; only
// which bins are drawn changes. thread: main only, like its load task.
class WaveformZoom : public QObject {
    Q_OBJECT

public:
    static constexpr int detailBins = 65536;

    explicit WaveformZoom(WaveformReading read = WaveformReader::wholeFile(detailBins), QObject *parent = nullptr);
    ~WaveformZoom() override;

    // 0…1; 0 is not zoomed. The magnification is 2^(6 × amount), 1 to 64.
    double amount() const { return amount_; }
    // The middle of the visible window as a fraction of the file.
    double center() const { return center_; }
    const WaveformPeaks &peaks() const { return peaks_; }
    // The request the current detail peaks belong to.
    const std::optional<WaveformDetailRequest> &ready() const { return ready_; }
    bool isLoading() const { return isLoading_; }

    double magnification() const;
    WaveformViewport viewport() const;

    void reset();
    // Zooms to amount (clamped to 0…1; ignored when not finite) centred on focus, with the
    // window pushed inside the file.
    void setAmount(double amount, SectionRange focus);
    // Moves the window's centre, at most to half a window from either end; only while zoomed.
    void pan(double center);
    // Loads the detail for request unless exactly that request is loaded already (also when
    // it came back empty). A request that does not match track, or is not zoomed, only clears
    // the detail. Cancelling caller cancels the load; nothing is applied then.
    QCoro::Task<> loadDetail(std::optional<AudioTrack> track, WaveformDetailRequest request,
                             CancellationToken caller = {});

Q_SIGNALS:
    void amountChanged();
    void centerChanged();
    void peaksChanged();
    void readyChanged();
    void isLoadingChanged();

private:
    void clearDetail();
    void setAmountValue(double amount);
    void setCenter(double center);
    void setPeaks(const WaveformPeaks &peaks);
    void setReady(const std::optional<WaveformDetailRequest> &ready);
    void setIsLoading(bool loading);

    double amount_ = 0;
    double center_ = 0.5;
    WaveformPeaks peaks_;
    std::optional<WaveformDetailRequest> ready_;
    bool isLoading_ = false;
    TaskHandle task_;
    Generation generation_;
    const WaveformReading read_;
};

} // namespace tampod
