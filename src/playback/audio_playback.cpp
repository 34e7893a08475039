#include "playback/audio_playback.h"

#include "playback/playback_failure.h"

#include "concurrency/thread_role.h"
#include "files/access/missing_audio_source.h"
#include "library/sd2_pair_audio.h"
#include "platform/output/audio_file_player.h"
#include "platform/output/audio_output.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace tampod {

// The player's end-of-playback reports arrive on its handler thread; they reach the engine
// through this gate, which the engine closes when it goes away.
struct AudioPlayback::ReportGate {
    std::mutex mutex;
    AudioPlayback *engine = nullptr; // thread: mutex
};

namespace {

// Out-of-range doubles do not convert to float; the player limits the volume itself.
float toFloat(double value)
{
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -largest, largest));
}


} // namespace

AudioPlayback::AudioPlayback()
    : gate_(std::make_shared<ReportGate>()), executor_(QStringLiteral("playback"))
{
    // Probing the device takes a while; start it now unless start-up already did.
    AudioOutput::warmUp();
    gate_->engine = this;
}

AudioPlayback::~AudioPlayback()
{
    std::lock_guard lock(gate_->mutex);
    gate_->engine = nullptr;
}

Async<void> AudioPlayback::load(AudioTrack track, double volume, bool repeating)
{
    return executor_.submit([this, track = std::move(track), volume, repeating] {
        install(track, track.audioURL(), volume, repeating, nullptr);
    });
}

Async<void> AudioPlayback::loadSection(AudioTrack track, std::shared_ptr<const PreparedSection> section,
                                       double volume)
{
    return executor_.submit([this, track = std::move(track), section = std::move(section), volume] {
        if (!section || section->source().id != track.id || section->source().audioURL() != track.audioURL())
            throw PlaybackFailure::cannotPrepare();
        install(track, section->url(), volume, true, section);
    });
}

Async<void> AudioPlayback::play()
{
    return executor_.submit([this] {
        if (!player_)
            throw PlaybackFailure::cannotPrepare();
        completion_.reset();
        // Play after the end starts again from the beginning.
        if (!(player_->currentTime() < player_->duration()))
            player_->setCurrentTime(0);
        if (!player_->play())
            throw PlaybackFailure::cannotPlay();
    });
}

Async<void> AudioPlayback::pause()
{
    return executor_.submit([this] {
        if (player_)
            player_->pause();
    });
}

Async<void> AudioPlayback::unload()
{
    return executor_.submit([this] { unloadPlayer(); });
}

Async<void> AudioPlayback::seek(double seconds)
{
    return executor_.submit([this, seconds] {
        completion_.reset();
        if (!player_)
            return;
        double target = seconds - sectionStart();
        if (!(target >= 0))
            target = 0;
        player_->setCurrentTime(std::min(target, player_->duration()));
    });
}

Async<void> AudioPlayback::setVolume(double volume)
{
    return executor_.submit([this, volume] {
        if (player_)
            player_->setVolume(toFloat(volume));
    });
}

Async<void> AudioPlayback::setRepeat(bool repeating)
{
    return executor_.submit([this, repeating] {
        const int loops = repeating ? -1 : 0;
        if (!player_ || player_->numberOfLoops() == loops)
            return;
        const double time = player_->currentTime();
        player_->setNumberOfLoops(loops);
        // The player keeps its place across the change; seeking a running player again would
        // replay what was heard since the read, so only a stopped one is put back.
        if (!player_->isPlaying())
            player_->setCurrentTime(time);
    });
}

Async<PlaybackSnapshot> AudioPlayback::snapshot()
{
    return executor_.submit([this] {
        PlaybackSnapshot snapshot;
        if (player_)
            player_->updateMeters();
        snapshot.levels = {level(0), level(1)};
        if (player_) {
            snapshot.position = (completion_ == true ? player_->duration() : player_->currentTime()) + sectionStart();
            snapshot.playing = player_->isPlaying();
        }
        snapshot.id = trackID_;
        snapshot.completion = completion_;
        return snapshot;
    });
}

void AudioPlayback::install(const AudioTrack &track, const QUrl &url, double volume, bool repeating,
                            std::shared_ptr<const PreparedSection> section)
{
    TAMPOD_ASSERT_ON(executor_);
    // From here on any failure leaves the engine unloaded.
    unloadPlayer();
    if (track.waitsForRecovery())
        throw PlaybackFailure::cannotPrepare();
    MissingAudioSource::check(url, track.displayName());
    auto player = std::make_unique<AudioFilePlayer>(url.toLocalFile());
    player->setNumberOfLoops(repeating ? -1 : 0);
    if (!player->prepareToPlay())
        throw PlaybackFailure::cannotPrepare();
    // Reports carry the generation they were made under; one from a replaced player is dropped.
    auto report = [gate = gate_, generation = generation_](bool successfully) {
        std::lock_guard lock(gate->mutex);
        if (auto *engine = gate->engine)
            (void)engine->executor_.submit(
                [engine, generation, successfully] { engine->finished(generation, successfully); });
    };
    player->setFinishedHandler(report);
    player->setDecodeErrorHandler([report](std::exception_ptr) { report(false); });
    player->setVolume(toFloat(volume));
    player_ = std::move(player);
    loadedTrack_ = track;
    section_ = std::move(section);
    trackID_ = track.id;
}

void AudioPlayback::unloadPlayer()
{
    TAMPOD_ASSERT_ON(executor_);
    if (player_)
        player_->stop();
    player_.reset();
    loadedTrack_.reset();
    section_.reset();
    trackID_.reset();
    completion_.reset();
    generation_ = QUuid::createUuid();
}

void AudioPlayback::finished(const QUuid &generation, bool successfully)
{
    TAMPOD_ASSERT_ON(executor_);
    if (generation == generation_)
        completion_ = successfully;
}

double AudioPlayback::sectionStart() const
{
    if (!section_ || !(section_->sampleRate() > 0))
        return 0;
    const double start = static_cast<double>(section_->startFrame()) / section_->sampleRate();
    return std::isfinite(start) ? start : 0;
}

// The meter of one side: the channel's last peak scaled by the listening volume, 0...1. A mono
// file shows its one channel on both sides.
double AudioPlayback::level(int index) const
{
    if (!player_ || !player_->isPlaying() || !(player_->volume() > 0))
        return 0;
    const int channel = std::min(index, std::max(player_->numberOfChannels() - 1, 0));
    const double peak = player_->peakPower(channel);
    const double volume = player_->volume();
    if (!std::isfinite(peak) || !std::isfinite(volume) || volume <= 0)
        return 0;
    return std::min(volume, 1.0) * std::pow(10.0, std::min(peak, 0.0) / 20);
}

} // namespace tampod
