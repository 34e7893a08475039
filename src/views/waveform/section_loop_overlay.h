#pragma once

#include "playback/section_range.h"
#include "playback/waveform_viewport.h"

#include <QPainterPath>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QMenu;

namespace tampod {

class RefreshScheduler;
class SectionLoopHeader;
class SectionLoopMarker;
class WaveformPaneModel;

// The section loop drawn over the waveform: the shaded section, its two draggable boundary
// markers and a header with the section's times and the preparation's progress. Every
// committed move is one undoable change of the player's loop range; the overlay itself keeps
// only a drag in progress and which marker has focus. thread: main only.
class SectionLoopOverlay : public QWidget {
    Q_OBJECT

public:
    static constexpr double markerWidth = 48;
    static constexpr double handleTop = 40;
    static constexpr double handleHeight = 24;
    static constexpr double handleShift = 12;
    static constexpr double lineWidth = 3;

    SectionLoopOverlay(WaveformPaneModel &player, WaveformViewport viewport, QWidget *parent = nullptr);
    ~SectionLoopOverlay() override;

    void setViewport(WaveformViewport viewport);
    WaveformViewport viewport() const { return viewport_; }
    WaveformPaneModel &player() const { return player_; }

    const std::optional<SectionRange> &draft() const { return draft_; }
    const std::optional<double> &dragOrigin() const { return dragOrigin_; }
    // true: the start marker has focus; false: the end marker; none: neither.
    const std::optional<bool> &focusedBoundary() const { return focusedBoundary_; }

    // The shown boundaries, each from the draft, else the committed range, else 0 and 1.
    double currentStart() const;
    double currentEnd() const;
    // Seconds of the whole file; 0 when unknown.
    double duration() const;

    // 0.001 s as a fraction of the file; the whole file for an unknown or tiny duration.
    static double minimumSpan(double duration);
    // 0.1 s as a fraction of the file, but at most a hundredth of it.
    static double arrowStep(double duration);
    // current with one boundary moved towards to, kept inside the file and minimumSpan from
    // the other one; none when that makes no valid range.
    static std::optional<SectionRange> moved(SectionRange current, bool start, double to, double minimumSpan);
    std::optional<SectionRange> moved(bool start, double to) const;

    // One arrow-key step of a boundary, committed at once.
    void adjust(bool start, bool increment);
    // A boundary moved to seconds into the file, committed at once (a screen reader's value).
    void moveTo(bool start, double seconds);
    // A drag of a boundary marker by translation points, and its end.
    void dragChanged(bool start, double translation);
    void dragEnded();

    QString title() const;
    QString timesText() const;
    QString markerValue(bool start) const;
    QWidget *marker(bool start) const;
    QAbstractButton *cancelButton() const;
    // The markers' context menu, built afresh on each call.
    QMenu *contextMenu(QWidget *parent);

    // The triangle of a boundary handle centred on centre, pointing into the section.
    static QPainterPath handlePath(bool start, QPointF centre);

    void refresh();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    friend class SectionLoopMarker;

    // A file fraction as a fraction of the viewport.
    double mapped(double fraction) const;
    void placeChildren();
    void focusChanged();

    WaveformPaneModel &player_;
    WaveformViewport viewport_;
    std::optional<SectionRange> draft_;
    std::optional<double> dragOrigin_;
    std::optional<bool> focusedBoundary_;
    SectionLoopMarker *const startMarker_;
    SectionLoopMarker *const endMarker_;
    SectionLoopHeader *const header_;
    RefreshScheduler *const scheduler_;
};

} // namespace tampod
