#pragma once

#include "views/kit/controls/transport_glyph.h"

#include <QSizeF>
#include <QWidget>

#include <array>
#include <functional>

namespace tampod {

class HardwareButton;
class HardwareSlider;
class MainWindowModel;
class RefreshScheduler;
class SevenSegmentDisplay;
class StereoMeterView;

// The transport bar: "EXPORT", the seven transport buttons under the position slider, the
// time display, and the volume slider over the stereo meter, each at a fixed place in a
// 1104 × 112 design space scaled with the bar's width. It keeps no state: refresh() re-reads
// the model, and every press makes exactly one call into it. thread: main.
class TransportView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSizeF designSize{1104, 112};
    static constexpr int buttonCount = 7;

    TransportView(MainWindowModel &player, std::function<void()> onExport, QWidget *parent = nullptr);
    ~TransportView() override;

    void refresh();

    HardwareButton *exportButton() const { return export_; }
    // The transport buttons in order: start, rewind, stop, play, repeat, forward, end.
    HardwareButton *button(TransportGlyph::Symbol symbol) const;
    HardwareSlider *positionSlider() const { return position_; }
    HardwareSlider *volumeSlider() const { return volume_; }
    SevenSegmentDisplay *timeDisplay() const { return time_; }
    StereoMeterView *meter() const { return meter_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refreshPlayback();

    MainWindowModel &player_;
    HardwareButton *export_;
    std::array<HardwareButton *, buttonCount> buttons_{};
    HardwareSlider *position_;
    HardwareSlider *volume_;
    SevenSegmentDisplay *time_;
    StereoMeterView *meter_;
    RefreshScheduler *scheduler_;
    RefreshScheduler *playbackScheduler_;
};

} // namespace tampod
