#include "export/preview/export_preview_player.h"

#include "concurrency/thread_role.h"
#include "files/access/missing_audio_source.h"
#include "library/sd2_pair_audio.h"
#include "platform/output/audio_file_player.h"
#include "platform/output/audio_output.h"
#include "playback/playback_failure.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace tampod {

// The player's end-of-playback reports arrive on its handler thread; they reach this actor
// through the gate, which the destructor closes.
struct ExportPreviewPlayer::ReportGate {
    std::mutex mutex;
    ExportPreviewPlayer *player = nullptr; // thread: mutex
};

namespace {

float limitedVolume(double volume)
{
    if (std::isnan(volume))
        return 0;
    return float(std::clamp(volume, 0.0, 1.0));
}

int loopsFor(const PreparedExportPreview &audio)
{
    if (!isSamplePreview(audio.request().mode))
        return -1;
    const std::int64_t more = std::clamp<std::int64_t>(audio.repetitions() - 1, 0, std::numeric_limits<int>::max());
    return int(more);
}

} // namespace

ExportPreviewPlayer::ExportPreviewPlayer(ReportTap tap)
    : gate_(std::make_shared<ReportGate>()), tap_(std::move(tap)), executor_(QStringLiteral("export preview player"))
{
    AudioOutput::warmUp();
    gate_->player = this;
}

ExportPreviewPlayer::~ExportPreviewPlayer()
{
    std::lock_guard lock(gate_->mutex);
    gate_->player = nullptr;
}

Async<void> ExportPreviewPlayer::play(std::shared_ptr<const PreparedExportPreview> audio, double volume,
                                      CancellationToken token)
{
    return executor_.submit([this, audio = std::move(audio), volume, token]() mutable {
        start(std::move(audio), volume, token);
    });
}

Async<bool> ExportPreviewPlayer::isPlaying()
{
    return executor_.submit([this] {
        if (failed_)
            throw PlaybackFailure::cannotPlay();
        return player_ && player_->isPlaying();
    });
}

Async<void> ExportPreviewPlayer::stop()
{
    return executor_.submit([this] { stopPlayback(); });
}

void ExportPreviewPlayer::start(std::shared_ptr<const PreparedExportPreview> audio, double volume,
                                const CancellationToken &token)
{
    TAMPOD_ASSERT_ON(executor_);
    stopPlayback();
    token.throwIfCancelled();
    const AudioTrack &track = audio->request().track;
    const QString name = track.displayName();
    const QUrl url = audio->url();
    MissingAudioSource::check(url, name);
    auto player = std::make_unique<AudioFilePlayer>(url.toLocalFile());
    player->setVolume(limitedVolume(volume));
    player->setNumberOfLoops(loopsFor(*audio));
    if (!player->prepareToPlay())
        throw PlaybackFailure::cannotPrepare();
    // Reports carry the generation they were made under; one from an earlier playback is dropped.
    auto report = [gate = gate_, generation = generation_](bool successfully) {
        std::lock_guard lock(gate->mutex);
        if (auto *self = gate->player)
            (void)self->executor_.submit([self, generation, successfully] { self->finished(generation, successfully); });
    };
    player->setFinishedHandler(report);
    player->setDecodeErrorHandler([report](std::exception_ptr) { report(false); });
    if (tap_)
        tap_(report);
    token.throwIfCancelled();
    if (!player->play())
        throw PlaybackFailure::cannotPlay();
    player_ = std::move(player);
    audio_ = std::move(audio);
}

void ExportPreviewPlayer::stopPlayback()
{
    TAMPOD_ASSERT_ON(executor_);
    if (player_)
        player_->stop();
    player_.reset();
    audio_.reset();
    failed_ = false;
    generation_ = QUuid::createUuid();
}

void ExportPreviewPlayer::finished(const QUuid &generation, bool successfully)
{
    TAMPOD_ASSERT_ON(executor_);
    if (generation == generation_)
        failed_ = !successfully;
}

} // namespace tampod
