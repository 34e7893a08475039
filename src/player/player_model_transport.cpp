#include "player/player_model.h"


#include "concurrency/thread_role.h"
#include "core/error.h"
#include "core/number_text.h"
#include "export/preview_audio_focus.h"
#include "files/access/missing_audio_source.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tampod {

namespace {


const QString missingTitle = QStringLiteral("Audio file is missing");
const QString unplayableTitle = QStringLiteral("Audio couldn’t be played");
const QString unplayableMessage = QStringLiteral(
    "The file is unavailable, access was denied, or its audio could not be decoded. Use File > Restore File "
    "Access… to select the original file, then try again.");
const QString sectionFailedTitle = QStringLiteral("Section Loop Unavailable");

constexpr PlayerModel::Levels silence{0, 0};

// Raised to at least low, then lowered to at most high (high wins when they cross).
double limited(double value, double low, double high)
{
    return std::min(std::max(value, low), high);
}

} // namespace

// Status -------------------------------------------------------------------------------------

bool PlayerModel::canPlaySelection() const
{
    const AudioTrack *track = currentTrack();
    return track && !track->waitsForRecovery() && !recoveryStatus() && !sectionLoop_->isPreparing() &&
           !isConfirmingRecoveryDepth_;
}

bool PlayerModel::isRepeating() const
{
    return repeatID_ && repeatID_ == selectedID_;
}

double PlayerModel::progress() const
{
    const AudioTrack *track = currentTrack();
    if (!track || !(track->duration > 0))
        return 0;
    return std::min(position_ / track->duration, 1.0);
}

QString PlayerModel::timeText() const
{
    const double raised = std::max(position_, 0.0);
    // NaN shows as 0; a value past the whole-number range as the largest one.
    const std::int64_t seconds = std::isnan(raised)
                                     ? 0
                                     : NumberText::toInt64(raised).value_or(std::numeric_limits<std::int64_t>::max());
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

double PlayerModel::sectionStart() const
{
    const auto &section = sectionLoop_->prepared();
    return section && section->sampleRate() > 0 ? double(section->startFrame()) / section->sampleRate() : 0;
}

double PlayerModel::playbackEnd() const
{
    if (const auto &section = sectionLoop_->prepared(); section && section->sampleRate() > 0)
        return double(section->endFrame()) / section->sampleRate();
    const AudioTrack *track = currentTrack();
    return track ? track->duration : 0;
}

// Transport ----------------------------------------------------------------------------------

void PlayerModel::stopLocally()
{
    setIsPlaying(false);
    setLevels(silence);
}

void PlayerModel::select(const QUuid &id, bool preservingLibrarySelection)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *found = findTrack(id);
    if (!found)
        return;
    if (!preservingLibrarySelection)
        librarySelection_->setIds({id});
    if (selectedID_ == id)
        return;
    const AudioTrack record = *found;
    waveformZoom_->reset();
    setSelectedID(id);
    commands_->invalidate();
    setRepeatID(std::nullopt);
    sectionLoop_->reset();
    setPosition(0);
    stopLocally();
    const double volume = volume_;
    commands_->enqueue(false, [record, volume](PlaybackServing &engine) -> QCoro::Task<> {
        if (record.waitsForRecovery())
            co_await engine.unload();
        else
            co_await engine.load(record, volume, false);
    });
    waveforms_->prepare(record);
}

void PlayerModel::playTrack(const QUuid &id)
{
    if (!findTrack(id))
        return;
    select(id, false);
    play();
}

void PlayerModel::play()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!selectedID_ && !tracks_.isEmpty())
        select(tracks_.first().id, false);
    const AudioTrack *track = currentTrack();
    if (!track || !canPlaySelection() || isPlaying_)
        return;
    const AudioTrack record = *track;
    // Main playback never overlaps an export preview: stop it, and let the command wait until
    // its player has wound down.
    PreviewAudioFocus &focus = PreviewAudioFocus::shared();
    if (AudiblePreview *preview = focus.current())
        preview->stop(QString());
    const TaskHandle cleanup = focus.cleanup();

    const double start = sectionStart();
    const bool seekMark = position_ >= playbackEnd() || position_ < start;
    if (seekMark)
        setPosition(start);
    setIsPlaying(true);
    const double volume = volume_;
    const bool repeating = isRepeating();
    const auto section = sectionLoop_->prepared();
    const double position = position_;
    commands_->enqueue(false, [cleanup, record, volume, repeating, section, seekMark,
                               position](PlaybackServing &engine) -> QCoro::Task<> {
        co_await cleanup.finished();
        const PlaybackSnapshot loaded = co_await engine.snapshot();
        if (loaded.id != record.id) {
            if (section)
                co_await engine.loadSection(record, section, volume);
            else
                co_await engine.load(record, volume, repeating);
        }
        if (seekMark)
            co_await engine.seek(position);
        co_await engine.play();
    });
}

void PlayerModel::pause()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    stopLocally();
    commands_->enqueue(true, [](PlaybackServing &engine) -> QCoro::Task<> { co_await engine.pause(); });
}

TaskHandle PlayerModel::queuedCommandsFinished() const
{
    return commands_->lastCommand();
}

void PlayerModel::seek(double seconds)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!canPlaySelection() || !std::isfinite(seconds))
        return;
    const double end = playbackEnd();
    setPosition(limited(seconds, sectionStart(), end));
    if (position_ >= end)
        stopLocally();
    const double position = position_;
    commands_->enqueue(false, [position, end](PlaybackServing &engine) -> QCoro::Task<> {
        if (end <= position)
            co_await engine.pause();
        co_await engine.seek(position);
    });
}

void PlayerModel::setVolume(double value)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!std::isfinite(value))
        return;
    const double volume = std::clamp(value, 0.0, 1.0);
    if (volume_ != volume) {
        volume_ = volume;
        Q_EMIT volumeChanged();
    }
    commands_->enqueue(false, [volume](PlaybackServing &engine) -> QCoro::Task<> { co_await engine.setVolume(volume); });
}

void PlayerModel::toggleRepeat()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!canPlaySelection())
        return;
    waveformZoom_->reset();
    const bool hadRange = sectionLoop_->range().has_value();
    sectionLoop_->reset();
    setRepeatID(isRepeating() ? std::nullopt : selectedID_);
    if (hadRange) {
        // The whole track comes back, with the new repeat state.
        pause();
        reloadSelection();
        return;
    }
    const bool repeating = isRepeating();
    commands_->enqueue(false,
                       [repeating](PlaybackServing &engine) -> QCoro::Task<> { co_await engine.setRepeat(repeating); });
}

void PlayerModel::toggleSectionLoop()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (sectionLoop_->range()) {
        pause();
        waveformZoom_->reset();
        sectionLoop_->reset();
        reloadSelection();
        return;
    }
    const AudioTrack *track = currentTrack();
    if (!track || !canPlaySelection())
        return;
    const AudioTrack record = *track;
    pause();
    setRepeatID(std::nullopt);
    // The rendered section is loaded by the loop's completion.
    sectionLoop_->prepare(record, SectionRange::initial(record.duration), false);
}

void PlayerModel::reloadSelection()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *track = currentTrack();
    if (!track)
        return;
    commands_->invalidate();
    stopLocally();
    setPosition(limited(position_, sectionStart(), playbackEnd()));
    const AudioTrack record = *track;
    const double volume = volume_;
    const bool repeating = isRepeating();
    const auto section = sectionLoop_->prepared();
    const double position = position_;
    commands_->enqueue(false,
                       [record, volume, repeating, section, position](PlaybackServing &engine) -> QCoro::Task<> {
                           if (section)
                               co_await engine.loadSection(record, section, volume);
                           else
                               co_await engine.load(record, volume, repeating);
                           co_await engine.seek(position);
                       });
}

void PlayerModel::resetPlayback()
{
    waveformZoom_->reset();
    commands_->invalidate();
    waveforms_->reset();
    setSelectedID(std::nullopt);
    librarySelection_->setIds({});
    setRepeatID(std::nullopt);
    sectionLoop_->reset();
    setIsPlaying(false);
    setPosition(0);
    setLevels(silence);
    commands_->enqueue(false, [](PlaybackServing &engine) -> QCoro::Task<> { co_await engine.unload(); });
}

void PlayerModel::setSectionRange(SectionRange range)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *track = currentTrack();
    if (!sectionLoop_->range() || !track || recoveryStatus() || sectionLoop_->range() == range)
        return;
    const AudioTrack record = *track;
    pause();
    sectionLoop_->prepare(record, range, true);
}

void PlayerModel::undoSectionRange()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (recoveryStatus() || !sectionLoop_->canUndo())
        return;
    pause();
    sectionLoop_->undo();
}

void PlayerModel::redoSectionRange()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (recoveryStatus() || !sectionLoop_->canRedo())
        return;
    pause();
    sectionLoop_->redo();
}

// Failures -----------------------------------------------------------------------------------

void PlayerModel::sectionFailed(const QString &message)
{
    waveformZoom_->reset();
    reloadSelection();
    warn(sectionFailedTitle, message, {});
}

void PlayerModel::playbackFailed(const std::exception_ptr &error)
{
    stopLocally();
    const QString title = errorIs<MissingAudioSource>(error) ? missingTitle : unplayableTitle;
    warn(title, MissingAudioSource::message(error).value_or(unplayableMessage), {});
}

} // namespace tampod
