#include "player/player_model.h"

#include "concurrency/thread_role.h"
#include "library/sd2_pair_audio.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace {

const QString decodingStoppedTitle = QStringLiteral("Audio playback stopped");
const QString decodingStoppedMessage = QStringLiteral("The decoder encountered damaged or unreadable audio.");

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
    trackIndex_.clear();
    channelOwners_.clear();
    trackIndex_.reserve(tracks_.size());
    for (int i = 0; i < tracks_.size(); ++i) {
        const AudioTrack &track = tracks_.at(i);
        // The first of equal ids, as a search from the top finds it.
        if (!trackIndex_.contains(track.id))
            trackIndex_.insert(track.id, i);
        if (track.pair) {
            for (const AudioTrack *channel : {&track.pair->left(), &track.pair->right()})
                if (!channelOwners_.contains(channel->id))
                    channelOwners_.insert(channel->id, track.id);
        }
    }
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

int PlayerModel::indexOf(const QUuid &id) const
{
    return trackIndex_.value(id, -1);
}

const AudioTrack *PlayerModel::findTrack(const QUuid &id) const
{
    const int index = indexOf(id);
    return index < 0 ? nullptr : &tracks_.at(index);
}

const AudioTrack *PlayerModel::currentTrack() const
{
    return selectedID_ ? findTrack(*selectedID_) : nullptr;
}

std::optional<AudioTrack> PlayerModel::selectedTrack() const
{
    const AudioTrack *track = currentTrack();
    return track ? std::optional<AudioTrack>(*track) : std::nullopt;
}

// Monitor snapshots --------------------------------------------------------------------------

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

void PlayerModel::updated(const PlaybackSnapshot &snapshot, bool positionOnly)
{
    if (!positionOnly) {
        receive(snapshot);
        return;
    }
    if (snapshot.id == selectedID_)
        setPosition(snapshot.position);
}

} // namespace tampod
