#include "player/player_model.h"

#include "concurrency/thread_role.h"
#include "core/error.h"
#include "core/number_text.h"
#include "export/preview_audio_focus.h"
#include "files/access/missing_audio_source.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_library_order.h"
#include "sd2/sd2_pair_model.h"

#include <QFileInfo>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tampod {

namespace {

const QString openPanelTitle = QStringLiteral("Open Audio Files or Folders");
const QString rejectedTitle = QStringLiteral("Some files couldn’t be loaded");
const QString rejectedMessage = QStringLiteral(" audio files were added. The following items were rejected:");
const QString bpmFailedTitle = QStringLiteral("BPM couldn’t be detected");
const QString missingTitle = QStringLiteral("Audio file is missing");
const QString unplayableTitle = QStringLiteral("Audio couldn’t be played");
const QString unplayableMessage = QStringLiteral(
    "The file is unavailable, access was denied, or its audio could not be decoded. Use File > Restore File "
    "Access… to select the original file, then try again.");
const QString decodingStoppedTitle = QStringLiteral("Audio playback stopped");
const QString decodingStoppedMessage = QStringLiteral("The decoder encountered damaged or unreadable audio.");
const QString sectionFailedTitle = QStringLiteral("Section Loop Unavailable");

constexpr PlayerModel::Levels silence{0, 0};

bool waitsForRecovery(const AudioTrack &track)
{
    return track.recovery && !track.recovery->copy;
}

// Raised to at least low, then lowered to at most high (high wins when they cross).
double limited(double value, double low, double high)
{
    return std::min(std::max(value, low), high);
}

} // namespace

PlayerModel::PlayerModel(std::shared_ptr<PlaybackServing> engine, std::shared_ptr<AudioImportServing> importer,
                         std::shared_ptr<SD2RecoveryServing> recoveryService,
                         std::shared_ptr<SectionPreparing> sectionService, std::shared_ptr<BPMAnalyzing> bpmService,
                         WaveformReading waveformReader, QObject *parent)
    : QObject(parent),
      librarySelection_(new LibrarySelection(this)),
      exportChecks_(new ExportCheckSelection(this)),
      waveformZoom_(new WaveformZoom(WaveformReader::wholeFile(WaveformZoom::detailBins), this)),
      pairing_(new SD2PairCoordinator(SD2PairCoordinator::servicePreparation(), this)),
      commands_(new PlaybackCommandCoordinator(std::move(engine), this)),
      sectionLoop_(new SectionLoopCoordinator(std::move(sectionService), this)),
      imports_(new AudioImportCoordinator(std::move(importer), this)),
      waveforms_(new WaveformCoordinator(std::move(waveformReader), this)),
      recoveryQueue_(new SD2RecoveryQueue(std::move(recoveryService), this)),
      bpmDetection_(new BPMDetectionQueue(std::move(bpmService), this))
{
    wireCallbacks();
}

PlayerModel::~PlayerModel() = default;

void PlayerModel::wireCallbacks()
{
    // Every callback holds the model weakly: a late one after the model is gone does nothing.
    QPointer<PlayerModel> self(this);
    bpmDetection_->completed = [self](const AudioTrack &track, double bpm) {
        if (self)
            self->bpmCompleted(track, bpm);
    };
    bpmDetection_->failed = [self](const QUuid &id, const QString &message) {
        if (self)
            self->bpmFailed(id, message);
    };
    commands_->shouldMonitor = [self] { return self && self->isPlaying_; };
    commands_->updated = [self](const PlaybackSnapshot &snapshot, bool positionOnly) {
        if (self)
            self->updated(snapshot, positionOnly);
    };
    commands_->failed = [self](std::exception_ptr error) {
        if (self)
            self->playbackFailed(error);
    };
    sectionLoop_->completed = [self](std::shared_ptr<const PreparedSection>) {
        // The section is read back from the loop when the track is reloaded.
        if (self)
            self->reloadSelection();
    };
    sectionLoop_->failed = [self](const QString &message) {
        if (self)
            self->sectionFailed(message);
    };
    recoveryQueue_->completed = [self](const QUuid &id, const SD2RecoveredCopyPointer &copy) {
        if (self)
            self->applyRecovery(id, copy);
    };
    recoveryQueue_->failed = [self](const QUuid &id, const SD2RecoveryFailure &failure) {
        if (self)
            self->recoveryFailed(id, failure);
    };
}

// State --------------------------------------------------------------------------------------

void PlayerModel::setTracks(QList<AudioTrack> tracks)
{
    tracks_ = std::move(tracks);
    Q_EMIT tracksChanged();
}

void PlayerModel::setSelectedID(const std::optional<QUuid> &id)
{
    if (selectedID_ == id)
        return;
    selectedID_ = id;
    Q_EMIT selectedIDChanged();
}

void PlayerModel::setRepeatID(const std::optional<QUuid> &id)
{
    if (repeatID_ == id)
        return;
    repeatID_ = id;
    Q_EMIT repeatIDChanged();
}

void PlayerModel::setIsPlaying(bool playing)
{
    if (isPlaying_ == playing)
        return;
    isPlaying_ = playing;
    Q_EMIT isPlayingChanged();
}

void PlayerModel::setPosition(double position)
{
    // The engine reports finite positions; anything else would poison every derived value.
    if (!std::isfinite(position) || position_ == position)
        return;
    position_ = position;
    Q_EMIT positionOrLevelsChanged();
}

void PlayerModel::setLevels(const Levels &levels)
{
    if (levels_ == levels)
        return;
    levels_ = levels;
    Q_EMIT positionOrLevelsChanged();
}

void PlayerModel::setIsConfirmingRecoveryDepth(bool confirming)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (isConfirmingRecoveryDepth_ == confirming)
        return;
    isConfirmingRecoveryDepth_ = confirming;
    Q_EMIT isConfirmingRecoveryDepthChanged();
}

void PlayerModel::stopLocally()
{
    setIsPlaying(false);
    setLevels(silence);
}

int PlayerModel::indexOf(const QUuid &id) const
{
    const auto found = std::find_if(tracks_.cbegin(), tracks_.cend(), [&](const AudioTrack &t) { return t.id == id; });
    return found == tracks_.cend() ? -1 : int(found - tracks_.cbegin());
}

const AudioTrack *PlayerModel::findTrack(const QUuid &id) const
{
    const int index = indexOf(id);
    return index < 0 ? nullptr : &tracks_[index];
}

const AudioTrack *PlayerModel::currentTrack() const
{
    return selectedID_ ? findTrack(*selectedID_) : nullptr;
}

// Status -------------------------------------------------------------------------------------

std::optional<AudioTrack> PlayerModel::selectedTrack() const
{
    const AudioTrack *track = currentTrack();
    return track ? std::optional<AudioTrack>(*track) : std::nullopt;
}

std::optional<SD2RecoveryQueue::Status> PlayerModel::recoveryStatus() const
{
    if (!selectedID_)
        return std::nullopt;
    const auto found = recoveryQueue_->states().constFind(*selectedID_);
    return found == recoveryQueue_->states().constEnd() ? std::nullopt : std::optional(*found);
}

bool PlayerModel::canPlaySelection() const
{
    const AudioTrack *track = currentTrack();
    return track && !waitsForRecovery(*track) && !recoveryStatus() && !sectionLoop_->isPreparing() &&
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
        if (waitsForRecovery(record))
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

void PlayerModel::receive(const PlaybackSnapshot &snapshot)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (snapshot.id != selectedID_ || !isPlaying_)
        return;
    setPosition(snapshot.position);
    setLevels(snapshot.levels);
    if (!snapshot.completion)
        return;
    commands_->stopMonitoring();
    stopLocally();
    if (!*snapshot.completion) {
        warn(decodingStoppedTitle, decodingStoppedMessage, {});
        return;
    }
    if (isRepeating() || sectionLoop_->range()) {
        seek(sectionStart());
        play();
        return;
    }
    const int index = indexOf(*selectedID_);
    if (index < 0 || index + 1 >= tracks_.size())
        return;
    select(tracks_[index + 1].id, librarySelection_->ids().size() > 1);
    play();
}

void PlayerModel::applyRecovery(const QUuid &id, const SD2RecoveredCopyPointer &copy)
{
    const int index = indexOf(id);
    if (index < 0 || !copy)
        return;
    const double progressBefore = progress();
    QList<AudioTrack> tracks = tracks_;
    AudioTrack &record = tracks[index];
    record.duration = copy->sampleRate() > 0 ? double(copy->frames()) / copy->sampleRate() : 0;
    record.recovery = SD2Recovery{copy, std::nullopt};
    record.detectedBPM.reset();
    const AudioTrack updated = record;
    setTracks(std::move(tracks));
    if (selectedID_ != id)
        return;
    if (copy->sampleBytes() == 2)
        restoreSD2TrialVolume(id);
    // The same place in the recording, whatever the copy's length.
    setPosition(progressBefore * updated.duration);
    if (const auto range = sectionLoop_->range())
        sectionLoop_->prepare(updated, *range, false);
    else
        reloadSelection();
    waveforms_->prepare(updated);
}

void PlayerModel::restoreSD2TrialVolume(const QUuid &id)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *track = currentTrack();
    if (!track || track->id != id || !track->recovery || !track->recovery->copy ||
        track->recovery->copy->sampleBytes() != 2 || recoveryQueue_->states().contains(id))
        return;
    if (const auto volume = recoveryQueue_->takeTrialVolume(id)) {
        pause();
        setVolume(*volume);
    }
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

// SD2 operations ------------------------------------------------------------------------------

std::optional<SD2RecoveryQueue::Status> PlayerModel::backgroundRecovery() const
{
    const auto &active = recoveryQueue_->activeID();
    if (!active || active == selectedID_)
        return std::nullopt;
    const auto found = recoveryQueue_->states().constFind(*active);
    return found == recoveryQueue_->states().constEnd() ? std::nullopt : std::optional(*found);
}

std::optional<SD2Metadata> PlayerModel::selectedRecoveryParameters() const
{
    if (const auto status = recoveryStatus())
        return status->parameters;
    const AudioTrack *track = currentTrack();
    if (!track || !track->recovery)
        return std::nullopt;
    if (const auto &copy = track->recovery->copy)
        return SD2Metadata{copy->sampleBytes(), copy->sampleRate(), copy->channels(), std::nullopt, std::nullopt};
    return track->recovery->requested;
}

void PlayerModel::getBPM(const QUuid &rowID)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const auto owner = libraryOwner(rowID);
    const AudioTrack *track = owner ? findTrack(*owner) : nullptr;
    // A recovery or a pair preparation is about to change the audio the tempo belongs to.
    if (!track || recoveryQueue_->states().contains(track->id) || pairing_->isPreparing())
        return;
    bpmDetection_->submit(*track);
}

void PlayerModel::recoverSelected(const SD2Metadata &parameters)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *found = currentTrack();
    if (!found || !found->recovery)
        return;
    AudioTrack track = *found;
    const auto &copy = track.recovery->copy;
    const bool sameAsCopy = copy && copy->sampleBytes() == parameters.sampleBytes &&
                            copy->sampleRate() == parameters.sampleRate && copy->channels() == parameters.channels;
    if (sameAsCopy && !parameters.bpm && !parameters.nativeBPM && !recoveryQueue_->states().contains(track.id)) {
        if (parameters.sampleBytes == 2)
            restoreSD2TrialVolume(track.id);
        return;
    }
    pairing_->cancel();
    pause();
    // An unusual depth may come out as full-scale noise: try it quietly.
    if (SD2RecoveryQueue::isTrialDepth(parameters.sampleBytes)) {
        recoveryQueue_->rememberTrialVolume(track.id, volume_);
        if (volume_ > SD2RecoveryQueue::trialVolumeCap)
            setVolume(SD2RecoveryQueue::trialVolumeCap);
    }
    // The library row keeps its copy until the new one has arrived.
    track.recovery->requested = parameters;
    bpmDetection_->cancel(track.id);
    recoveryQueue_->submit(track, parameters.sampleRate, true);
}

void PlayerModel::pairSD2(const AudioTrack &left, const AudioTrack &right)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (recoveryQueue_->states().contains(left.id) || recoveryQueue_->states().contains(right.id))
        return;
    bpmDetection_->cancel(left.id);
    bpmDetection_->cancel(right.id);
    pause();
    QPointer<PlayerModel> self(this);
    pairing_->prepare(left, right, [self, left, right](const AudioTrack &pair) {
        if (self)
            self->replaceLibraryTracks({left, right}, {pair});
    });
}

void PlayerModel::unpairSelected()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *track = currentTrack();
    if (!track || !track->pair)
        return;
    const AudioTrack pairTrack = *track;
    pairing_->cancel();
    pairing_->setMessage(QString());
    replaceLibraryTracks({pairTrack}, {pairTrack.pair->left(), pairTrack.pair->right()});
}

// Library rows --------------------------------------------------------------------------------

QList<LinkedLibraryEntry> PlayerModel::libraryEntries() const
{
    QList<LinkedLibraryEntry> entries;
    for (const AudioTrack &track : tracks_) {
        if (track.pair) {
            entries.append({track.pair->left(), track.id, QStringLiteral("L")});
            entries.append({track.pair->right(), track.id, QStringLiteral("R")});
        } else {
            entries.append({track, track.id, std::nullopt});
        }
    }
    return entries;
}

std::optional<QUuid> PlayerModel::libraryOwner(const QUuid &rowID) const
{
    for (const LinkedLibraryEntry &entry : libraryEntries())
        if (entry.track.id == rowID)
            return entry.ownerID;
    return std::nullopt;
}

QList<AudioTrack> PlayerModel::selectedTracks() const
{
    QList<AudioTrack> selected;
    for (const AudioTrack &track : tracks_)
        if (librarySelection_->ids().contains(track.id))
            selected.append(track);
    return selected;
}

namespace {

std::optional<int> channelCount(const AudioTrack &track)
{
    if (track.metadataAudio)
        return track.metadataAudio->metadata.channels;
    if (track.recovery && track.recovery->copy)
        return track.recovery->copy->channels();
    if (track.sd2Format)
        return track.sd2Format->channels;
    return std::nullopt;
}

} // namespace

bool PlayerModel::canLinkSelected() const
{
    const QList<AudioTrack> selected = selectedTracks();
    if (selected.size() != 2)
        return false;
    for (const AudioTrack &track : selected) {
        const bool sd2 = track.sd2Format || track.metadataAudio || track.recovery ||
                         QFileInfo(track.projectedURL().path()).suffix().toLower() == QStringLiteral("sd2");
        if (track.pair || !sd2 || waitsForRecovery(track) || channelCount(track) != 1 ||
            recoveryQueue_->states().contains(track.id))
            return false;
    }
    if (pairing_->isPreparing())
        return false;
    return !SD2PairModel::issue(selected[0], selected[1]) || !SD2PairModel::issue(selected[1], selected[0]);
}

QSet<QUuid> PlayerModel::visibleLibraryIDs(const QSet<QUuid> &ids) const
{
    QSet<QUuid> rows;
    for (const LinkedLibraryEntry &entry : libraryEntries())
        if (ids.contains(entry.ownerID))
            rows.insert(entry.track.id);
    return rows;
}

void PlayerModel::selectVisibleLibraryRows(const QSet<QUuid> &rowIDs)
{
    QSet<QUuid> owners;
    for (const LinkedLibraryEntry &entry : libraryEntries())
        if (rowIDs.contains(entry.track.id))
            owners.insert(entry.ownerID);
    selectLibraryRows(owners);
}

std::optional<std::pair<AudioTrack, AudioTrack>> PlayerModel::namedLinkSelection() const
{
    if (!canLinkSelected())
        return std::nullopt;
    const QList<AudioTrack> selected = selectedTracks();
    const auto first = SD2Identification::channelName(selected[0].projectedURL());
    const auto second = SD2Identification::channelName(selected[1].projectedURL());
    const auto folder = [](const AudioTrack &t) { return t.projectedURL().adjusted(QUrl::RemoveFilename); };
    if (!first || !second || first->stem != second->stem || first->channel == second->channel ||
        folder(selected[0]) != folder(selected[1]))
        return std::nullopt;
    if (first->channel == u"L")
        return std::pair(selected[0], selected[1]);
    return std::pair(selected[1], selected[0]);
}

// Row selection and export checks --------------------------------------------------------------

void PlayerModel::selectLibraryRows(const QSet<QUuid> &ids)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    librarySelection_->replace(ids, tracks_);
    if (currentTrack() && librarySelection_->ids().contains(*selectedID_))
        return;
    // The multi-row selection survives the change of the current track.
    const QList<AudioTrack> selected = selectedTracks();
    if (!selected.isEmpty())
        select(selected.first().id, true);
}

QList<AudioTrack> PlayerModel::checkedTracks() const
{
    QList<AudioTrack> checked;
    for (const AudioTrack &track : tracks_)
        if (exportChecks_->ids().contains(track.id))
            checked.append(track);
    return checked;
}

void PlayerModel::setExportChecked(const QUuid &id, bool checked)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (findTrack(id))
        exportChecks_->set(id, checked);
}

std::optional<AudioTrack> PlayerModel::primaryExportTrack() const
{
    const QList<AudioTrack> checked = checkedTracks();
    const AudioTrack *current = currentTrack();
    const AudioTrack *candidate = checked.size() == 1 ? &checked.first() : current;
    if (!candidate || waitsForRecovery(*candidate) || recoveryQueue_->states().contains(candidate->id) ||
        isConfirmingRecoveryDepth_)
        return std::nullopt;
    if (current && candidate->id == current->id && !canPlaySelection())
        return std::nullopt;
    return *candidate;
}

bool PlayerModel::primaryExportIsHighlighted() const
{
    if (!primaryExportTrack())
        return false;
    const qsizetype checked = checkedTracks().size();
    if (checked > 0)
        return checked == 1;
    return selectedTracks().size() == 1;
}

QString PlayerModel::primaryExportHelp() const
{
    const auto track = primaryExportTrack();
    if (!track)
        return QStringLiteral("Choose a ready audio file to export");
    const QString name =
        track->pair ? track->pair->name() + QStringLiteral(" (L/R)") : track->projectedURL().fileName();
    const bool loop = track->id == selectedID_ && sectionLoop_->prepared();
    return QStringLiteral("Export ") + name + (loop ? QStringLiteral(" — selected loop") : QStringLiteral(" — whole file"));
}

LibraryExportSelection PlayerModel::libraryExportSelection() const
{
    if (QList<AudioTrack> checked = checkedTracks(); !checked.isEmpty())
        return {std::move(checked), true};
    QList<AudioTrack> selected = selectedTracks();
    if (selected.size() >= 2 || (selected.size() == 1 && selected.first().pair))
        return {std::move(selected), false};
    return {};
}

// Callbacks ----------------------------------------------------------------------------------

void PlayerModel::bpmCompleted(const AudioTrack &track, double bpm)
{
    const QUrl analysed = track.audioURL();
    const auto found = std::find_if(tracks_.cbegin(), tracks_.cend(), [&](const AudioTrack &t) {
        return t.id == track.id && t.audioURL() == analysed;
    });
    // Removed, or its audio changed while the detection ran; a tempo is never overwritten, and
    // a recovery under way will change the audio.
    if (found == tracks_.cend() || found->effectiveBPM() || recoveryQueue_->states().contains(track.id))
        return;
    QList<AudioTrack> tracks = tracks_;
    tracks[found - tracks_.cbegin()].detectedBPM = std::isfinite(bpm) && bpm > 0 ? std::optional(bpm) : std::nullopt;
    setTracks(std::move(tracks));
}

void PlayerModel::bpmFailed(const QUuid &id, const QString &message)
{
    if (findTrack(id))
        warn(bpmFailedTitle, message, {});
}

void PlayerModel::updated(const PlaybackSnapshot &snapshot, bool positionOnly)
{
    if (!positionOnly) {
        receive(snapshot);
        return;
    }
    if (snapshot.id == selectedID_)
        setPosition(snapshot.position);
}

void PlayerModel::sectionFailed(const QString &message)
{
    waveformZoom_->reset();
    reloadSelection();
    warn(sectionFailedTitle, message, {});
}

void PlayerModel::recoveryFailed(const QUuid &id, const SD2RecoveryFailure &failure)
{
    if (findTrack(id))
        recoveryWarning(failure);
}

void PlayerModel::playbackFailed(const std::exception_ptr &error)
{
    stopLocally();
    const QString title = errorIs<MissingAudioSource>(error) ? missingTitle : unplayableTitle;
    warn(title, MissingAudioSource::message(error).value_or(unplayableMessage), {});
}

// Library list changes -----------------------------------------------------------------------

TaskHandle PlayerModel::importFiles(const QList<QUrl> &urls, bool selectFirstImported)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QPointer<PlayerModel> self(this);
    return imports_->enqueue(
        urls,
        [self] {
            QSet<QUrl> existing;
            if (self) {
                for (const AudioTrack &track : std::as_const(self->tracks_))
                    for (const QUrl &url : track.originalURLs())
                        existing.insert(url);
            }
            return existing;
        },
        [self, selectFirstImported](const AudioImportResult &result) {
            if (self)
                self->importCompleted(result, selectFirstImported);
        });
}

void PlayerModel::importCompleted(const AudioImportResult &result, bool selectFirstImported)
{
    append(result.tracks);
    if (selectFirstImported && !result.tracks.isEmpty())
        select(result.tracks.first().id, false);
    if (result.rejections.isEmpty())
        return;
    QStringList details;
    for (const ImportRejection &rejection : result.rejections)
        details.append(rejection.name + QStringLiteral(" — ") + rejection.reason);
    warn(rejectedTitle, NumberText::wholeQ(result.tracks.size()) + rejectedMessage, details);
}

void PlayerModel::openFiles()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QPointer<PlayerModel> self(this);
    const QList<QUrl> chosen = chooseFilesToOpen(openPanelTitle);
    // The panel ran its own event loop: the model may be gone by now.
    if (self && !chosen.isEmpty())
        importFiles(chosen, false);
}

void PlayerModel::append(const QList<AudioTrack> &tracks)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // The .L and .R files of one recording stand together, also when imported apart.
    setTracks(SD2LibraryOrder::grouped(tracks_ + tracks));
    reportSD2ImportLengths(tracks);
    if (!selectedID_ && !tracks_.isEmpty())
        select(tracks_.first().id, false);
    prepareImportedSD2(tracks);
}

void PlayerModel::reportSD2ImportLengths(const QList<AudioTrack> &imported)
{
    if (const auto warning = SD2LibraryOrder::importLengthWarning(tracks_, imported))
        warn(warning->title, warning->message, warning->details);
}

void PlayerModel::prepareImportedSD2(const QList<AudioTrack> &imported)
{
    for (const AudioTrack &track : imported) {
        if (!waitsForRecovery(track) || !track.recovery->requested)
            continue;
        recoveryQueue_->submit(track, track.recovery->requested->sampleRate, false);
    }
}

void PlayerModel::forgetTrackWork(const QUuid &id, bool forgetTrialVolume)
{
    bpmDetection_->cancel(id);
    recoveryQueue_->cancel(id, forgetTrialVolume);
}

void PlayerModel::removeSelected()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pairing_->cancel();
    const QSet<QUuid> selected = librarySelection_->ids();
    const auto first = std::find_if(tracks_.cbegin(), tracks_.cend(),
                                    [&](const AudioTrack &t) { return selected.contains(t.id); });
    if (first == tracks_.cend())
        return;
    const qsizetype firstIndex = first - tracks_.cbegin();
    for (const QUuid &id : selected)
        forgetTrackWork(id, true);
    resetPlayback();
    QList<AudioTrack> kept = tracks_;
    kept.removeIf([&](const AudioTrack &t) { return selected.contains(t.id); });
    setTracks(std::move(kept));
    exportChecks_->remove(selected);
    if (tracks_.isEmpty())
        return;
    select(tracks_[std::min(tracks_.size() - 1, firstIndex)].id, false);
}

void PlayerModel::clearAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pairing_->cancel();
    imports_->cancelAll();
    recoveryQueue_->cancelAll();
    bpmDetection_->cancelAll();
    waveforms_->reset();
    resetPlayback();
    setTracks({});
    exportChecks_->clear();
}

void PlayerModel::replaceLibraryTracks(const QList<AudioTrack> &old, const QList<AudioTrack> &replacements)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (old.isEmpty())
        return;
    // Every old track must still stand as it was: one rewritten meanwhile (a finished
    // recovery changes its audio) cancels the replacement.
    QSet<QUuid> replaced;
    qsizetype position = tracks_.size();
    for (const AudioTrack &track : old) {
        const int index = indexOf(track.id);
        if (index < 0 || tracks_[index].audioURL() != track.audioURL())
            return;
        replaced.insert(track.id);
        // The place of the old tracks in the library, whatever order they were handed in.
        position = std::min<qsizetype>(position, index);
    }
    const bool wasChecked = exportChecks_->ids().intersects(replaced);
    resetPlayback();
    for (const QUuid &id : std::as_const(replaced))
        forgetTrackWork(id, false);
    QList<AudioTrack> tracks = tracks_;
    tracks.removeIf([&](const AudioTrack &t) { return replaced.contains(t.id); });
    const qsizetype at = std::min(position, tracks.size());
    for (qsizetype i = 0; i < replacements.size(); ++i)
        tracks.insert(at + i, replacements[i]);
    setTracks(std::move(tracks));
    exportChecks_->remove(replaced);
    if (wasChecked) {
        for (const AudioTrack &track : replacements)
            exportChecks_->set(track.id, true);
    }
    if (!replacements.isEmpty())
        select(replacements.first().id, false);
}

} // namespace tampod
