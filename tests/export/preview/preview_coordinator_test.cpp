// The auditions of export sheets: the one audible focus across coordinators, main playback
// paused first, the end noticed by the poll, late reports ignored, the error texts; with fakes,
// and with the real player on the silent output playing a short file.
#include "preview_fixtures.h"

#include "export/preview/export_preview_coordinator.h"
#include "files/access/missing_audio_source.h"
#include "platform/output/null_audio_output.h"
#include "playback/playback_failure.h"

#include <QFile>

#include <atomic>
#include <cmath>
#include <mutex>

using namespace tampod;
using namespace tampod::test;
using Phase = ExportPreviewCoordinator::Phase;

namespace {

// What the fakes and main playback did, in order.
struct Log {
    std::mutex mutex;
    QStringList events;
    void add(const QString &event) { std::lock_guard lock(mutex); events << event; }
    QStringList all() { std::lock_guard lock(mutex); return events; }
};

using Prepared = std::shared_ptr<const PreparedExportPreview>;
using Render = std::function<Prepared(const ExportPreviewRequest &, const ExportProgress &, const CancellationToken &)>;

class FakeRenderer final : public ExportPreviewPreparing {
public:
    explicit FakeRenderer(Render render) : render_(std::move(render)) {}
    Async<Prepared> prepare(ExportPreviewRequest request, ExportProgress progress, CancellationToken token) override
    {
        return executor_.submit([this, request, progress, token] { return render_(request, progress, token); });
    }

private:
    Render render_;
    SerialExecutor executor_{QStringLiteral("fake renderer")};
};

class FakePlayer final : public ExportPreviewPlaying {
public:
    FakePlayer(Log &log, QString name) : log_(log), name_(std::move(name)) {}
    Async<void> play(Prepared audio, double volume, CancellationToken) override
    {
        return executor_.submit([this, audio, volume] {
            if (failure)
                std::rethrow_exception(failure);
            log_.add(name_ + " play " + RawValue::text(audio->request().mode) + " at " + QString::number(volume));
            playing = true;
        });
    }
    Async<bool> isPlaying() override { return executor_.submit([this] { return playing.load(); }); }
    Async<void> stop() override
    {
        return executor_.submit([this] {
            log_.add(name_ + " stop");
            playing = false;
        });
    }

    std::atomic<bool> playing{false};
    std::exception_ptr failure;

private:
    Log &log_;
    QString name_;
    SerialExecutor executor_{QStringLiteral("fake player")};
};

// A renderer that hands out an Original preview of the track and keeps its progress function.
Render original(std::shared_ptr<ExportProgress> keep = nullptr)
{
    return [keep](const ExportPreviewRequest &request, const ExportProgress &progress, const CancellationToken &) {
        if (keep)
            *keep = progress;
        progress(0.25);
        return std::make_shared<const PreparedExportPreview>(request, request.track.audioURL(), 1);
    };
}

ExportPreviewCoordinator::PauseMainPlayback pausing(Log &log, double volume = 0.5)
{
    return [&log, volume]() -> QCoro::Task<double> {
        log.add("pause main");
        co_return volume;
    };
}

ExportPreviewRequest request(ExportPreviewMode mode, std::int64_t vinylLevel = 30)
{
    ExportDefaults settings;
    settings.vinyl.amount = vinylLevel;
    return previewOf(trackOf(QStringLiteral("/nowhere/take.wav")), mode, settings);
}

} // namespace

TEST(PreviewCoordinator, RefusedRequestLeavesEverythingAlone)
{
    Log log;
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(original()),
                                         std::make_shared<FakePlayer>(log, "player"));
    coordinator.start(request(ExportPreviewMode::vinyl, 120), pausing(log));
    EXPECT_EQ(coordinator.message(), QStringLiteral("Choose Vinyl levels from 0 to 100%."));
    EXPECT_EQ(coordinator.phase(), Phase::idle);
    EXPECT_TRUE(coordinator.runningTask().isEmpty());
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(log.all(), QStringList{});
}

TEST(PreviewCoordinator, ASecondAuditionTakesTheFocusFromTheFirst)
{
    Log log;
    auto firstPlayer = std::make_shared<FakePlayer>(log, "first");
    auto secondPlayer = std::make_shared<FakePlayer>(log, "second");
    ExportPreviewCoordinator first(std::make_shared<FakeRenderer>(original()), firstPlayer);
    ExportPreviewCoordinator second(std::make_shared<FakeRenderer>(original()), secondPlayer);
    // Every message each one showed, in order: instant fakes may begin playback before start()
    // returns, so the state just after it is not a promise; the sequence is.
    QStringList firstShown, secondShown;
    QObject::connect(&first, &ExportPreviewCoordinator::messageChanged, [&] { firstShown << first.message(); });
    QObject::connect(&second, &ExportPreviewCoordinator::messageChanged, [&] { secondShown << second.message(); });

    first.start(request(ExportPreviewMode::original), pausing(log));
    EXPECT_NE(first.phase(), Phase::idle);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), &first);
    ASSERT_TRUE(pumpUntil([&] { return first.phase() == Phase::playing; }));
    EXPECT_EQ(firstShown, (QStringList{"Preparing original preview…", "Playing original preview"}));
    EXPECT_EQ(first.progress(), 1.0);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), &first);

    second.start(request(ExportPreviewMode::processed), pausing(log, 0.8));
    EXPECT_EQ(first.phase(), Phase::idle);
    EXPECT_EQ(first.message(), QString());
    EXPECT_EQ(first.mode(), std::nullopt);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), &second);
    ASSERT_TRUE(pumpUntil([&] { return second.phase() == Phase::playing; }));
    EXPECT_EQ(secondShown, (QStringList{"Preparing processed preview…", "Playing processed preview"}));
    EXPECT_EQ(PreviewAudioFocus::shared().current(), &second);
    // The first player stopped before main playback was paused again and the second played.
    EXPECT_EQ(log.all(), (QStringList{"pause main", "first play Original at 0.5", "first stop", "pause main",
                                      "second play Processed at 0.8"}));

    second.stop(QString());
    ASSERT_TRUE(pumpUntil([&] { return PreviewAudioFocus::shared().cleanup().isFinished(); }));
    EXPECT_EQ(log.all().last(), QStringLiteral("second stop"));
}

TEST(PreviewCoordinator, ThePollEndsAFinishedAudition)
{
    Log log;
    auto player = std::make_shared<FakePlayer>(log, "player");
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(original()), player);
    coordinator.start(request(ExportPreviewMode::vinyl), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
    player->playing = false;
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::idle; }));
    EXPECT_EQ(coordinator.message(), QStringLiteral("Vinyl preview finished."));
    EXPECT_EQ(coordinator.mode(), ExportPreviewMode::vinyl);
    EXPECT_EQ(coordinator.progress(), 1.0);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(log.all().last(), QStringLiteral("player stop"));
}

TEST(PreviewCoordinator, LateReportsOfAStoppedOrReplacedAuditionChangeNothing)
{
    Log log;
    auto kept = std::make_shared<ExportProgress>();
    auto player = std::make_shared<FakePlayer>(log, "player");
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(original(kept)), player);
    coordinator.start(request(ExportPreviewMode::original), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
    const ExportProgress old = *kept;

    coordinator.stop(QStringLiteral("Stopped."));
    old(0.75);
    player->playing = false; // the old task's poll ends, but its "finished" is not shown
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(coordinator.progress(), 0.0);
    EXPECT_EQ(coordinator.message(), QStringLiteral("Stopped."));

    coordinator.start(request(ExportPreviewMode::processed), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
    old(0.75);
    (*kept)(0.4); // the playing audition's own render, reporting late
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(coordinator.progress(), 1.0);
    EXPECT_EQ(coordinator.message(), QStringLiteral("Playing processed preview"));
    coordinator.stop(QString());
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
}

TEST(PreviewCoordinator, FailureTexts)
{
    const QString fallback = ExportPreviewCoordinator::failureFallback;
    const struct {
        std::exception_ptr error;
        QString text;
    } rows[] = {
        {std::make_exception_ptr(MissingAudioSource("take.wav")),
         MissingAudioSource::message(std::make_exception_ptr(MissingAudioSource("take.wav"))).value()},
        {std::make_exception_ptr(AudioExportError(AudioExportError::Case::verificationFailed)),
         QStringLiteral("The exported audio did not pass verification. No destination file was created.")},
        {std::make_exception_ptr(PlaybackFailure::cannotPlay()), fallback},
        {std::make_exception_ptr(std::runtime_error("disk")), fallback},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ExportPreviewCoordinator::failureText(row.error), row.text);

    // Through an audition: the text replaces the status, the mode stays, the focus is free.
    Log log;
    auto player = std::make_shared<FakePlayer>(log, "player");
    player->failure = std::make_exception_ptr(PlaybackFailure::cannotPrepare());
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(original()), player);
    coordinator.start(request(ExportPreviewMode::hum), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(coordinator.message(), fallback);
    EXPECT_EQ(coordinator.phase(), Phase::idle);
    EXPECT_EQ(coordinator.mode(), ExportPreviewMode::hum);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
}

// The real player on the silent output, which plays in real time.
class RealPreviewPlayer : public ::testing::Test {
protected:
    RealPreviewPlayer() : output_(std::make_shared<NullAudioOutput>()) { AudioOutput::setShared(output_); }
    ~RealPreviewPlayer() override { AudioOutput::setShared(nullptr); }

    // 0.3 s of a constant level in a job folder of the scene's store, owned by the preview.
    Render shortFile(float level = 0.5f)
    {
        return [this, level](const ExportPreviewRequest &request, const ExportProgress &progress,
                             const CancellationToken &) {
            auto folder = std::make_unique<JobFolder>(scene.store().makeDirectory());
            const QString path = folder->file("short.wav");
            writeAudio(path, 2, 48000, std::vector<float>(2 * 14400, level), 24);
            progress(1.0);
            return std::make_shared<const PreparedExportPreview>(request, QUrl::fromLocalFile(path), 1,
                                                                 std::move(folder));
        };
    }

    // The loudest sample heard while the coordinator's audition runs to its end.
    float loudestWhile(const std::function<void()> &run)
    {
        auto loudest = std::make_shared<std::atomic<float>>(0.0f);
        output_->setMonitor([loudest](const float *audio, int frames, int channels) {
            for (int i = 0; i < frames * channels; ++i)
                if (std::abs(audio[i]) > loudest->load())
                    loudest->store(std::abs(audio[i]));
        });
        run();
        output_->setMonitor({});
        return loudest->load();
    }

    PreviewScene scene;
    std::shared_ptr<NullAudioOutput> output_;
};

TEST_F(RealPreviewPlayer, ASampleEndsByItselfAndAProcessedAuditionLoopsUntilStopped)
{
    Log log;
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(shortFile()),
                                         std::make_shared<ExportPreviewPlayer>());
    const float heard = loudestWhile([&] {
        coordinator.start(request(ExportPreviewMode::hum), pausing(log, 1.7));
        ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
        ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::idle; }));
    });
    EXPECT_EQ(coordinator.message(), QStringLiteral("Hum preview finished."));
    EXPECT_NEAR(heard, 0.5f, 0.01f); // the volume limited to 1
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(scene.jobFolders(), QStringList{});

    coordinator.start(request(ExportPreviewMode::processed), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; })) << coordinator.message().toStdString();
    EXPECT_FALSE(pumpUntil([&] { return coordinator.phase() != Phase::playing; }, std::chrono::milliseconds(700)));
    EXPECT_EQ(scene.jobFolders().size(), 1);
    coordinator.stop(QString());
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(scene.jobFolders(), QStringList{});
}

TEST_F(RealPreviewPlayer, VolumesAreLimitedAndAMovedSourceIsNamed)
{
    for (const auto &[volume, level] : {std::pair{-0.2, 0.0f}, {std::nan(""), 0.0f}, {0.5, 0.25f}}) {
        Log log;
        ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(shortFile()),
                                             std::make_shared<ExportPreviewPlayer>());
        const float heard = loudestWhile([&] {
            coordinator.start(request(ExportPreviewMode::vinyl), pausing(log, volume));
            ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
        });
        EXPECT_EQ(coordinator.message(), QStringLiteral("Vinyl preview finished."));
        EXPECT_NEAR(heard, level, 0.01f) << volume;
    }

    Log log;
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(original()),
                                         std::make_shared<ExportPreviewPlayer>());
    coordinator.start(request(ExportPreviewMode::original), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(coordinator.message(),
              MissingAudioSource::message(std::make_exception_ptr(MissingAudioSource("take.wav"))).value());
}

TEST_F(RealPreviewPlayer, AFileThatStopsDecodingWhilePlayingEndsTheAuditionWithTheFailureText)
{
    // Long enough to be read from the file as it plays rather than held in memory.
    auto path = std::make_shared<QString>();
    const Render longFile = [this, path](const ExportPreviewRequest &request, const ExportProgress &,
                                         const CancellationToken &) {
        auto folder = std::make_unique<JobFolder>(scene.store().makeDirectory());
        *path = folder->file("long.wav");
        writeAudio(*path, 2, 48000, std::vector<float>(2 * 4 * 48000, 0.5f));
        return std::make_shared<const PreparedExportPreview>(request, QUrl::fromLocalFile(*path), 1, std::move(folder));
    };
    Log log;
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(longFile), std::make_shared<ExportPreviewPlayer>());
    coordinator.start(request(ExportPreviewMode::processed), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
    // Its audio data end early now, as on a damaged or vanishing disk.
    ASSERT_TRUE(QFile::resize(*path, 4096));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::idle; }));
    EXPECT_EQ(coordinator.message(), ExportPreviewCoordinator::failureFallback);
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
    EXPECT_EQ(scene.jobFolders(), QStringList{});
}

TEST_F(RealPreviewPlayer, ReportsOfAnEarlierPlaybackLeaveTheNextOneAlone)
{
    std::mutex mutex;
    std::vector<std::function<void(bool)>> reports; // one for each playback, in order
    auto player = std::make_shared<ExportPreviewPlayer>([&](std::function<void(bool)> report) {
        std::lock_guard lock(mutex);
        reports.push_back(std::move(report));
    });
    const auto made = [&] {
        std::lock_guard lock(mutex);
        return reports.size();
    };
    Log log;
    ExportPreviewCoordinator coordinator(std::make_shared<FakeRenderer>(shortFile()), player);
    coordinator.start(request(ExportPreviewMode::processed), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return coordinator.phase() == Phase::playing; }));
    coordinator.start(request(ExportPreviewMode::processed), pausing(log));
    ASSERT_TRUE(pumpUntil([&] { return made() == 2 && coordinator.phase() == Phase::playing; }));

    // The first playback's end and decode error, arriving late.
    const std::function<void(bool)> first = [&] {
        std::lock_guard lock(mutex);
        return reports.front();
    }();
    first(true);
    first(false);
    EXPECT_FALSE(pumpUntil([&] { return coordinator.phase() != Phase::playing; }, std::chrono::milliseconds(400)));
    EXPECT_EQ(coordinator.message(), QStringLiteral("Playing processed preview"));
    EXPECT_EQ(coordinator.progress(), 1.0);
    coordinator.stop(QString());
    ASSERT_TRUE(pumpUntil([&] { return coordinator.runningTask().isFinished(); }));
}
