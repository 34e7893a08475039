#include "views/waveform/section_loop_overlay.h"

#include "views/kit/accessibility/accessible_value_source.h"
#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/waveform/internal/waveform_painting.h"
#include "views/waveform/waveform_pane_model.h"
#include "views/waveform/waveform_texts.h"

#include "player/section_loop_coordinator.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace {

constexpr double headerSpacing = 12;
constexpr double headerPadding = 8;
constexpr double headerTop = 6;
constexpr double headerFontSize = 16;
constexpr double progressWidth = 90;
constexpr double buttonPaddingX = 10;
constexpr double buttonPaddingY = 3;

QFont headerFont(double s)
{
    return WaveformPainting::font(headerFontSize, QFont::DemiBold, s);
}

bool isValidRange(const SectionRange &r)
{
    return std::isfinite(r.start) && std::isfinite(r.end) && 0 <= r.start && r.start < r.end && r.end <= 1;
}

} // namespace

// The header's "Cancel" button, drawn in design points like the rest of the header.
class HeaderButton final : public QAbstractButton {
public:
    explicit HeaderButton(QWidget *parent) : QAbstractButton(parent)
    {
        setText(WaveformText::cancel);
        setAccessibleName(WaveformText::cancel);
        setFocusPolicy(Qt::TabFocus);
    }

    static QSizeF designSize(double s)
    {
        const QFont font = headerFont(s);
        return {WaveformPainting::advance(font, s, WaveformText::cancel) + 2 * buttonPaddingX,
                WaveformPainting::lineHeight(font, s) + 2 * buttonPaddingY};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const double s = DesignScale::of(this);
        const QSizeF size = WaveformPainting::designSize(this, s);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(s, s);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isDown() ? Theme::pressedHeaderButton : Theme::headerButton);
        painter.drawRoundedRect(QRectF(QPointF(), size), 5, 5);
        const QFont font = headerFont(s);
        painter.setPen(Theme::brightText);
        WaveformPainting::drawText(painter, s, font, buttonPaddingX, 0, size.height(), text());
    }
};

// The row of title, times and, while preparing, progress and "Cancel" on its dark plate.
// Presses on the plate pass to the pane below.
class SectionLoopHeader final : public QWidget {
public:
    explicit SectionLoopHeader(QWidget *parent) : QWidget(parent), cancel_(new HeaderButton(this))
    {
        setAttribute(Qt::WA_NoSystemBackground);
        cancel_->hide();
    }

    void setContent(const QString &title, const QString &times, bool preparing, double progress)
    {
        if (title_ == title && times_ == times && preparing_ == preparing && progress_ == progress)
            return;
        title_ = title;
        times_ = times;
        preparing_ = preparing;
        progress_ = progress;
        cancel_->setVisible(preparing);
        update();
    }

    // The plate's size in design points.
    QSizeF plateSize(double s) const
    {
        const QFont font = headerFont(s);
        double width = WaveformPainting::advance(font, s, title_) + headerSpacing
                       + WaveformPainting::advance(font, s, times_, true);
        double height = WaveformPainting::lineHeight(font, s);
        if (preparing_) {
            const QSizeF button = HeaderButton::designSize(s);
            width += 2 * headerSpacing + progressWidth + button.width();
            height = std::max(height, button.height());
        }
        return {width + 2 * headerPadding, height + 2 * headerPadding};
    }

    void place(double s)
    {
        const QSizeF plate = plateSize(s);
        const QSizeF button = HeaderButton::designSize(s);
        cancel_->setGeometry(DesignScaleLayout::scaled(
            QRectF(plate.width() - headerPadding - button.width(), (plate.height() - button.height()) / 2,
                   button.width(), button.height()),
            s));
    }

    QAbstractButton *cancelButton() const { return cancel_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const double s = DesignScale::of(this);
        const QSizeF size = WaveformPainting::designSize(this, s);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(s, s);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::headerPlate);
        painter.drawRoundedRect(QRectF(QPointF(), size), 6, 6);

        const QFont font = headerFont(s);
        const double rowHeight = size.height() - 2 * headerPadding;
        double x = headerPadding;
        painter.setPen(Theme::brightText);
        WaveformPainting::drawText(painter, s, font, x, headerPadding, rowHeight, title_);
        x += WaveformPainting::advance(font, s, title_) + headerSpacing;
        WaveformPainting::drawText(painter, s, font, x, headerPadding, rowHeight, times_, true);
        if (!preparing_)
            return;
        x += WaveformPainting::advance(font, s, times_, true) + headerSpacing;
        constexpr double barHeight = 5;
        const QRectF track(x, headerPadding + (rowHeight - barHeight) / 2, progressWidth, barHeight);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::progressTrack);
        painter.drawRoundedRect(track, barHeight / 2, barHeight / 2);
        const double fraction = std::isfinite(progress_) ? std::clamp(progress_, 0.0, 1.0) : 0;
        if (fraction > 0) {
            painter.setBrush(Theme::systemBlue);
            painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(progressWidth * fraction, barHeight)),
                                    barHeight / 2, barHeight / 2);
        }
    }

private:
    HeaderButton *const cancel_;
    QString title_;
    QString times_;
    bool preparing_ = false;
    double progress_ = 0;
};

// A boundary marker's hit area, focus and keys; the overlay draws it. Its frame is 48 points
// wide and the overlay's height, centred on the boundary.
class SectionLoopMarker final : public QWidget, public AccessibleValueSource {
public:
    SectionLoopMarker(SectionLoopOverlay *overlay, bool start)
        : QWidget(overlay), overlay_(overlay), start_(start)
    {
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(start ? WaveformText::sectionStart : WaveformText::sectionEnd);
        setAccessibleDescription(WaveformText::markerHint);
    }

    QString accessibleValue() const override { return overlay_->markerValue(start_); }
    bool isAdjustable() const override { return true; }
    void accessibleAdjust(bool increment) override { overlay_->adjust(start_, increment); }
    // Seconds into the file, stepped as the arrow keys step; none while the length is unknown.
    std::optional<AccessibleRange> accessibleRange() const override
    {
        const double seconds = overlay_->duration();
        if (seconds <= 0)
            return std::nullopt;
        const double at = start_ ? overlay_->currentStart() : overlay_->currentEnd();
        return AccessibleRange{0, seconds, at * seconds, SectionLoopOverlay::arrowStep(seconds) * seconds};
    }
    void setAccessibleCurrent(double seconds) override { overlay_->moveTo(start_, seconds); }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        // While a recovery runs the markers cannot be dragged; the press goes to the pane.
        if (event->button() != Qt::LeftButton || overlay_->player().hasRecoveryStatus()) {
            event->ignore();
            return;
        }
        pressX_ = event->globalPosition().x();
        dragging_ = true;
        overlay_->dragChanged(start_, 0);
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!dragging_) {
            event->ignore();
            return;
        }
        const double s = DesignScale::of(overlay_);
        overlay_->dragChanged(start_, (event->globalPosition().x() - pressX_) / s);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (!dragging_ || event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        dragging_ = false;
        overlay_->dragEnded();
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Right:
            overlay_->adjust(start_, true);
            break;
        case Qt::Key_Down:
        case Qt::Key_Left:
            overlay_->adjust(start_, false);
            break;
        default:
            QWidget::keyPressEvent(event);
        }
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        QMenu *menu = overlay_->contextMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }

    void focusInEvent(QFocusEvent *event) override
    {
        QWidget::focusInEvent(event);
        overlay_->focusChanged();
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        QWidget::focusOutEvent(event);
        // A window losing activation or a menu opening keeps the marker's focus.
        if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
            overlay_->focusChanged();
    }

private:
    SectionLoopOverlay *const overlay_;
    const bool start_;
    double pressX_ = 0;
    bool dragging_ = false;
};

SectionLoopOverlay::SectionLoopOverlay(WaveformPaneModel &player, WaveformViewport viewport, QWidget *parent)
    : QWidget(parent), player_(player), viewport_(viewport), startMarker_(new SectionLoopMarker(this, true)),
      endMarker_(new SectionLoopMarker(this, false)), header_(new SectionLoopHeader(this)),
      scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    SectionLoopCoordinator &loop = player_.sectionLoop();
    for (auto signal : {&SectionLoopCoordinator::rangeChanged, &SectionLoopCoordinator::preparedChanged,
                        &SectionLoopCoordinator::isPreparingChanged, &SectionLoopCoordinator::progressChanged})
        scheduler_->watch(&loop, signal);
    scheduler_->watch(&player_, &WaveformPaneModel::selectionChanged);
    scheduler_->watch(&player_, &WaveformPaneModel::recoveryStatusChanged);
    connect(header_->cancelButton(), &QAbstractButton::clicked, this, [this] { player_.toggleSectionLoop(); });
    refresh();
}

SectionLoopOverlay::~SectionLoopOverlay() = default;

void SectionLoopOverlay::setViewport(WaveformViewport viewport)
{
    if (viewport_ == viewport)
        return;
    viewport_ = viewport;
    refresh();
}

double SectionLoopOverlay::currentStart() const
{
    if (draft_)
        return draft_->start;
    return player_.sectionLoop().range() ? player_.sectionLoop().range()->start : 0;
}

double SectionLoopOverlay::currentEnd() const
{
    if (draft_)
        return draft_->end;
    return player_.sectionLoop().range() ? player_.sectionLoop().range()->end : 1;
}

double SectionLoopOverlay::duration() const
{
    double seconds = 0;
    if (const auto &prepared = player_.sectionLoop().prepared())
        seconds = double(prepared->totalFrames()) / prepared->sampleRate();
    else if (const auto track = player_.selectedTrack())
        seconds = track->duration;
    return std::isfinite(seconds) ? seconds : 0;
}

double SectionLoopOverlay::minimumSpan(double duration)
{
    return duration >= 0.001 && 0.001 / duration < 1.0 ? 0.001 / duration : 1.0;
}

double SectionLoopOverlay::arrowStep(double duration)
{
    return duration >= 0.1 && 0.1 / duration < 0.01 ? 0.1 / duration : 0.01;
}

std::optional<SectionRange> SectionLoopOverlay::moved(SectionRange current, bool start, double to, double minimumSpan)
{
    SectionRange result = current;
    if (start) {
        const double t = to >= 0 ? to : 0; // below 0 or not a number
        result.start = std::min(t, current.end - minimumSpan);
    } else {
        const double t = std::isnan(to) ? 1 : std::min(to, 1.0);
        result.end = std::max(t, current.start + minimumSpan);
    }
    if (!isValidRange(result))
        return std::nullopt;
    return result;
}

std::optional<SectionRange> SectionLoopOverlay::moved(bool start, double to) const
{
    return moved({currentStart(), currentEnd()}, start, to, minimumSpan(duration()));
}

void SectionLoopOverlay::adjust(bool start, bool increment)
{
    const double value = start ? currentStart() : currentEnd();
    const double step = arrowStep(duration());
    if (const auto range = moved(start, increment ? value + step : value - step))
        player_.setSectionRange(*range);
}

void SectionLoopOverlay::moveTo(bool start, double seconds)
{
    const double length = duration();
    if (length <= 0)
        return;
    if (const auto range = moved(start, seconds / length))
        player_.setSectionRange(*range);
}

void SectionLoopOverlay::dragChanged(bool start, double translation)
{
    focusedBoundary_ = start;
    marker(start)->setFocus(Qt::MouseFocusReason);
    if (!dragOrigin_) {
        player_.pause();
        dragOrigin_ = start ? currentStart() : currentEnd();
    }
    const double s = DesignScale::of(this);
    const double width = WaveformPainting::designSize(this, s).width();
    const double t = *dragOrigin_ + translation / std::max(width, 1.0) * (viewport_.end - viewport_.start);
    draft_ = moved(start, t);
    refresh();
}

void SectionLoopOverlay::dragEnded()
{
    const std::optional<SectionRange> committed = std::exchange(draft_, std::nullopt);
    dragOrigin_.reset();
    if (committed)
        player_.setSectionRange(*committed);
    refresh();
}

QString SectionLoopOverlay::title() const
{
    return draft_ ? WaveformText::releaseToApply : WaveformText::sectionLoop;
}

QString SectionLoopOverlay::timesText() const
{
    const double seconds = duration();
    return QString::asprintf("%.3f – %.3f s", currentStart() * seconds, currentEnd() * seconds);
}

QString SectionLoopOverlay::markerValue(bool start) const
{
    return QString::asprintf("%.3f seconds", (start ? currentStart() : currentEnd()) * duration());
}

QWidget *SectionLoopOverlay::marker(bool start) const
{
    return start ? static_cast<QWidget *>(startMarker_) : endMarker_;
}

QAbstractButton *SectionLoopOverlay::cancelButton() const
{
    return header_->cancelButton();
}

QMenu *SectionLoopOverlay::contextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const SectionLoopCoordinator &loop = player_.sectionLoop();
    const bool recovering = player_.hasRecoveryStatus();
    QAction *undo = menu->addAction(WaveformText::undoChange);
    undo->setEnabled(!recovering && loop.canUndo());
    connect(undo, &QAction::triggered, this, [this] { player_.undoSectionRange(); });
    QAction *redo = menu->addAction(WaveformText::redoChange);
    redo->setEnabled(!recovering && loop.canRedo());
    connect(redo, &QAction::triggered, this, [this] { player_.redoSectionRange(); });
    return menu;
}

QPainterPath SectionLoopOverlay::handlePath(bool start, QPointF centre)
{
    // A triangle 18 × 22 points with slightly rounded corners, like the system's symbol.
    constexpr double halfWidth = 9;
    constexpr double halfHeight = 11;
    constexpr double round = 0.18; // of each edge, taken off at every corner
    const double direction = start ? 1 : -1;
    const QPointF corners[3] = {centre + QPointF(-halfWidth * direction, -halfHeight),
                                centre + QPointF(halfWidth * direction, 0),
                                centre + QPointF(-halfWidth * direction, halfHeight)};
    QPainterPath path;
    for (int i = 0; i < 3; ++i) {
        const QPointF &previous = corners[(i + 2) % 3];
        const QPointF &corner = corners[i];
        const QPointF &next = corners[(i + 1) % 3];
        const QPointF in = corner + (previous - corner) * round;
        const QPointF out = corner + (next - corner) * round;
        if (i == 0)
            path.moveTo(in);
        else
            path.lineTo(in);
        path.quadTo(corner, out);
    }
    path.closeSubpath();
    return path;
}

double SectionLoopOverlay::mapped(double fraction) const
{
    return (fraction - viewport_.start) / (viewport_.end - viewport_.start);
}

void SectionLoopOverlay::refresh()
{
    const SectionLoopCoordinator &loop = player_.sectionLoop();
    header_->setContent(title(), timesText(), loop.isPreparing(), loop.progress());
    placeChildren();
    AccessibleValueSource::valueChanged(startMarker_);
    AccessibleValueSource::valueChanged(endMarker_);
    update();
}

void SectionLoopOverlay::resizeEvent(QResizeEvent *)
{
    placeChildren();
}

void SectionLoopOverlay::placeChildren()
{
    const double s = DesignScale::of(this);
    const QSizeF size = WaveformPainting::designSize(this, s);
    for (const bool start : {true, false}) {
        const double f = mapped(start ? currentStart() : currentEnd());
        const double centre = size.width() * f;
        const bool inView = f >= 0 && f <= 1;
        // A marker at an edge of the view keeps its whole grab area inside the pane.
        double left = centre - markerWidth / 2;
        if (inView)
            left = std::clamp(left, 0.0, std::max(0.0, size.width() - markerWidth));
        QWidget *m = marker(start);
        m->setGeometry(DesignScaleLayout::scaled(QRectF(left, 0, markerWidth, size.height()), s));
        // A marker scrolled out of view cannot be grabbed; one being dragged keeps its drag.
        m->setAttribute(Qt::WA_TransparentForMouseEvents, !(inView || dragOrigin_));
    }
    const QSizeF plate = header_->plateSize(s);
    header_->setGeometry(DesignScaleLayout::scaled(
        QRectF((size.width() - plate.width()) / 2, headerTop, plate.width(), plate.height()), s));
    header_->place(s);
}

void SectionLoopOverlay::focusChanged()
{
    std::optional<bool> focused;
    if (startMarker_->hasFocus())
        focused = true;
    else if (endMarker_->hasFocus())
        focused = false;
    if (focusedBoundary_ != focused) {
        focusedBoundary_ = focused;
        update();
    }
}

void SectionLoopOverlay::paintEvent(QPaintEvent *)
{
    const double s = DesignScale::of(this);
    const QSizeF size = WaveformPainting::designSize(this, s);
    const double w = size.width();
    const double h = size.height();
    QPainter painter(this);
    painter.scale(s, s);

    const double from = mapped(currentStart());
    const double to = mapped(currentEnd());
    QColor shade = Theme::accent;
    shade.setAlphaF(0.16f);
    painter.fillRect(QRectF(w * std::max(from, 0.0), 0, std::max(w * (std::min(to, 1.0) - std::max(from, 0.0)), 0.0), h),
                     shade);

    painter.setRenderHint(QPainter::Antialiasing);
    for (const bool start : {true, false}) {
        const double x = w * (start ? from : to);
        const double lineTop = handleTop + handleHeight;
        painter.fillRect(QRectF(x - lineWidth / 2, lineTop, lineWidth, std::max(h - lineTop, 0.0)), Theme::accent);
        const QPainterPath handle =
            handlePath(start, QPointF(x + (start ? handleShift : -handleShift), handleTop + handleHeight / 2));
        // The shadow: black, about one point around the triangle.
        painter.strokePath(handle, QPen(Theme::handleShadow, 2));
        painter.fillPath(handle, Theme::accent);
        if (focusedBoundary_ == start && !dragOrigin_)
            painter.strokePath(handle, QPen(Theme::brightText, 2, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    }
}

} // namespace tampod
