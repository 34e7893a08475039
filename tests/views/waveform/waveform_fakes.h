#pragma once

// A player for the waveform pane's tests: the real overview, zoom and section-loop
// coordinators over readings and a preparer that the tests hold and release.

#include "views/kit/design_scale_layout.h"
#include "views/waveform/waveform_pane_model.h"

#include "player/section_loop_coordinator.h"
#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "library/sd2_pair_audio.h"
#include "support/test_support.h"

#include <QMouseEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace tampod::test {

// Calls that end at once, or while held, when the test finishes them.
template <typename T>
struct Pending {
    bool hold = false;
    std::vector<std::shared_ptr<detail::AsyncState<T>>> states;
    std::vector<std::function<T()>> results;

    Async<T> start(std::function<T()> result)
    {
        states.push_back(std::make_shared<detail::AsyncState<T>>());
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
    // Ends every call and waits until every caller has resumed and let go of it.
    void settle()
    {
        for (std::size_t i = 0; i < states.size(); ++i)
            finish(i);
        EXPECT_TRUE(pumpUntil([&] {
            return std::all_of(states.begin(), states.end(), [](const auto &s) { return s.use_count() == 1; });
        }));
    }
};

// Sections of 60 s at 1,000 frames a second.
struct FakePreparer final : SectionPreparing {
    Pending<std::shared_ptr<const PreparedSection>> calls;
    Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange r, Progress,
                                                          CancellationToken) override
    {
        return calls.start([=] {
            return std::make_shared<const PreparedSection>(track, QUrl(), std::llround(r.start * 60000),
                                                           std::llround(r.end * 60000), 60000, 1000.0, std::nullopt);
        });
    }
};

class FakePaneModel final : public WaveformPaneModel {
public:
    FakePaneModel() : overview_(reading(overviewReads, overviewPeaks)), zoom_(reading(detailReads, detailPeaks)), loop_(preparer) {}
    ~FakePaneModel() override
    {
        overviewReads.settle(), detailReads.settle(), preparer->calls.settle();
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
        if (loop_.range() && track && !recovering && *loop_.range() != range)
            loop_.prepare(*track, range, true);
    }
    void toggleSectionLoop() override { ++toggles, zoom_.reset(), loop_.reset(); }
    void undoSectionRange() override { loop_.undo(); }
    void redoSectionRange() override { loop_.redo(); }

    // Makes t current: zoom and loop reset, overview read.
    void select(std::optional<AudioTrack> t)
    {
        track = std::move(t);
        zoom_.reset(), loop_.reset(), overview_.reset();
        if (track)
            overview_.prepare(*track);
        Q_EMIT selectionChanged();
    }
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

// A linked pair whose working copy lies in a missing folder, so releasing it removes nothing.
inline AudioTrack pairTrack()
{
    AudioTrack t = trackAt(QStringLiteral("/absent/Take.L"));
    t.pair = std::make_shared<const SD2PairAudio>(
        trackAt(QStringLiteral("/absent/Take.L")), trackAt(QStringLiteral("/absent/Take.R")),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/job/Take.wav"), 44100, 441000, QString(), 2, 2));
    return t;
}

// A widget shown in a design-scaled host at scale s, as the main window places the pane.
template <typename W>
struct Hosted {
    QWidget host;
    W *widget;

    template <typename... Args>
    explicit Hosted(double s, Args &&...args) : widget(new W(std::forward<Args>(args)...))
    {
        (new DesignScaleLayout(QSizeF(978, 220), &host))->addWidget(widget, QRectF(0, 0, 978, 220));
        host.resize(qRound(978 * s), qRound(220 * s));
        host.show();
        QCoreApplication::sendPostedEvents();
    }
};

// Pointer input sent to the window, which routes it as real input (hit testing, implicit grab).
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
    void drag(QPointF from, QPointF to) { press(from), move(to), release(to); }
};

} // namespace tampod::test
