#pragma once

// A player for the waveform pane's tests: the real overview, zoom and section-loop
// coordinators over readings and a preparer that the tests hold and release.

#include "views/design_scale_layout.h"
#include "views/waveform_pane_model.h"

#include "player/section_loop_coordinator.h"
#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "library/sd2_pair_audio.h"
#include "support/test_support.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace tampod::test {

// Work the tests finish by hand: each call waits until release() or, unless held, ends at once.
template <typename T>
struct Pending {
    using State = detail::AsyncState<T>;
    bool hold = false;
    std::vector<std::shared_ptr<State>> states;
    std::vector<std::function<T()>> results;

    Async<T> start(std::function<T()> result)
    {
        states.push_back(std::make_shared<State>());
        results.push_back(std::move(result));
        if (!hold)
            finish(states.size() - 1);
        return Async<T>(states.back());
    }
    void finish(std::size_t i)
    {
        if (!states.at(i)->done)
            states[i]->run(results[i]);
    }
    void release()
    {
        for (std::size_t i = 0; i < states.size(); ++i)
            finish(i);
    }
    // Every waiting coroutine has resumed and let go of its call.
    bool settled() const
    {
        return std::all_of(states.begin(), states.end(), [](const auto &s) { return s.use_count() == 1; });
    }
};

struct FakePreparer final : SectionPreparing {
    // A section of 60 s at 1,000 frames a second.
    static constexpr std::int64_t totalFrames = 60000;
    Pending<std::shared_ptr<const PreparedSection>> calls;

    Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange range, Progress,
                                                          CancellationToken) override
    {
        return calls.start([track, range]() -> std::shared_ptr<const PreparedSection> {
            return std::make_shared<const PreparedSection>(track, QUrl(), std::llround(range.start * totalFrames),
                                                           std::llround(range.end * totalFrames), totalFrames, 1000.0,
                                                           std::nullopt);
        });
    }
};

class FakePaneModel final : public WaveformPaneModel {
public:
    FakePaneModel()
        : overview_(reading(overviewReads, overviewPeaks)), zoom_(reading(detailReads, detailPeaks)),
          loop_(preparer)
    {
    }
    ~FakePaneModel() override
    {
        overviewReads.release();
        detailReads.release();
        preparer->calls.release();
        EXPECT_TRUE(pumpUntil([&] {
            return overviewReads.settled() && detailReads.settled() && preparer->calls.settled();
        }));
    }

    std::optional<QUuid> selectedID() const override { return track ? std::optional(track->id) : std::nullopt; }
    std::optional<AudioTrack> selectedTrack() const override { return track; }
    double progress() const override { return position; }
    bool hasRecoveryStatus() const override { return recovering; }
    WaveformCoordinator &waveforms() const override { return overview_; }
    WaveformZoom &waveformZoom() const override { return zoom_; }
    SectionLoopCoordinator &sectionLoop() const override { return loop_; }

    void pause() override { ++pauses; }
    // As the player's: ignored while off, without a track, while recovering or unchanged.
    void setSectionRange(SectionRange range) override
    {
        commits.push_back(range);
        if (!loop_.range() || !track || recovering || *loop_.range() == range)
            return;
        pause();
        loop_.prepare(*track, range, true);
    }
    void toggleSectionLoop() override
    {
        ++toggles;
        zoom_.reset();
        loop_.reset();
    }
    void undoSectionRange() override
    {
        if (!recovering && loop_.canUndo())
            loop_.undo();
    }
    void redoSectionRange() override
    {
        if (!recovering && loop_.canRedo())
            loop_.redo();
    }

    // Makes t current: zoom and loop reset, overview read.
    void select(std::optional<AudioTrack> t)
    {
        track = std::move(t);
        zoom_.reset();
        loop_.reset();
        overview_.reset();
        if (track)
            overview_.prepare(*track);
        Q_EMIT selectionChanged();
    }
    void setPosition(double p)
    {
        position = p;
        Q_EMIT progressChanged();
    }
    void setRecovering(bool on)
    {
        recovering = on;
        Q_EMIT recoveryStatusChanged();
    }
    // Turns the loop on at range, prepared at once unless the preparer holds.
    void loopOn(SectionRange range) { loop_.prepare(*track, range, false); }

    std::optional<AudioTrack> track;
    double position = 0;
    bool recovering = false;
    int pauses = 0;
    int toggles = 0;
    std::vector<SectionRange> commits;
    WaveformPeaks overviewPeaks;
    WaveformPeaks detailPeaks;
    Pending<WaveformPeaks> overviewReads;
    Pending<WaveformPeaks> detailReads;
    std::vector<CancellationToken> detailTokens;
    std::shared_ptr<FakePreparer> preparer = std::make_shared<FakePreparer>();

private:
    WaveformReading reading(Pending<WaveformPeaks> &calls, WaveformPeaks &peaks)
    {
        return [this, &calls, &peaks](AudioTrack, CancellationToken token) -> QCoro::Task<WaveformPeaks> {
            if (&calls == &detailReads)
                detailTokens.push_back(token);
            co_return co_await calls.start([&peaks] { return peaks; });
        };
    }

    mutable WaveformCoordinator overview_;
    mutable WaveformZoom zoom_;
    mutable SectionLoopCoordinator loop_;
};

inline AudioTrack trackAt(const QString &path, double duration = 60)
{
    AudioTrack t;
    t.id = QUuid::createUuid();
    t._url = TrackedFileURL(QUrl::fromLocalFile(path));
    t.duration = duration;
    return t;
}

// A linked pair whose working copy lies in a folder that does not exist, so releasing it
// removes nothing.
inline AudioTrack pairTrack()
{
    AudioTrack t = trackAt(QStringLiteral("/absent/Take.L"));
    t.pair = std::make_shared<const SD2PairAudio>(
        trackAt(QStringLiteral("/absent/Take.L")), trackAt(QStringLiteral("/absent/Take.R")),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(QStringLiteral("/absent/job/Take.wav")), 44100,
                                                 441000, QString(), 2, 2));
    return t;
}

// A widget hosted at scale s, as the main window's top block places the pane.
template <typename W>
struct Hosted {
    QWidget host;
    DesignScaleLayout *layout = new DesignScaleLayout(QSizeF(978, 220), &host);
    W *widget;

    template <typename... Args>
    explicit Hosted(double s, Args &&...args) : widget(new W(std::forward<Args>(args)...))
    {
        layout->addWidget(widget, QRectF(0, 0, 978, 220));
        host.resize(qRound(978 * s), qRound(220 * s));
        host.show();
        QCoreApplication::sendPostedEvents();
    }
};

// Pointer input delivered to the window, routed to widgets as real input is (hit testing,
// implicit grab). Positions are in pixels of the window.
struct Pointer {
    QWidget &window;
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, at, window.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &event);
    }
    void press(QPointF at) { send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void move(QPointF at) { send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
    void release(QPointF at) { send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
    void drag(QPointF from, std::initializer_list<QPointF> through)
    {
        press(from);
        for (const QPointF &p : through)
            move(p);
        release(through.size() ? *(through.end() - 1) : from);
    }
};

} // namespace tampod::test
