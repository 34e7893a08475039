#pragma once

// A real player model on stand-in services, with records made without files.

#include "player/player_fakes.h"
#include "player/player_model.h"
#include "sd2/pair_fixture.h"

#include "library/sd2_pair_audio.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace tampod::test {

inline void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void click(QWidget *widget, QPoint at)
{
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

// What a double click delivers: a click, then a double-click press and its release.
inline void doubleClick(QWidget *widget, QPoint at)
{
    click(widget, at);
    sendMouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

struct LibraryFixture : ::testing::Test {
    LibraryFixture() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~LibraryFixture() override
    {
        EXPECT_TRUE(pumpUntil([&] {
            analyzer->endAll(0);
            recovery->endAll(nullptr);
            return !model->pairing().isPreparing() && !model->recoveryQueue().activeID() &&
                   !model->bpmDetection().activeID();
        }));
        model.reset();
        EXPECT_TRUE(pumpUntil([&] { return engine.use_count() == 1; }));
    }

    static AudioTrack track(const QString &name, std::optional<double> bpm = std::nullopt)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile("/library/" + name));
        t.duration = 10;
        t.bpm = bpm;
        t.importedFormat.sampleRate = 44100;
        t.importedFormat.resolution = AudioSourceFormat::Resolution::integer(16);
        return t;
    }
    static AudioTrack pairOf(const AudioTrack &left, const AudioTrack &right)
    {
        AudioTrack pair = track("take.pair");
        auto copy = std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/copies/" + QUuid::createUuid().toString()),
                                                             44100, 441000, "x", 2, 2);
        pair.pair = std::make_shared<const SD2PairAudio>(left, right, copy);
        return pair;
    }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::shared_ptr<FakeImporter> importer = std::make_shared<FakeImporter>();
    std::shared_ptr<LatchedRecovery> recovery = std::make_shared<LatchedRecovery>();
    std::shared_ptr<LatchedAnalyzer> analyzer = std::make_shared<LatchedAnalyzer>();
    std::unique_ptr<PlayerModel> model = std::make_unique<PlayerModel>(
        engine, importer, recovery, std::make_shared<FakeSections>(), analyzer,
        [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; });
};

} // namespace tampod::test
