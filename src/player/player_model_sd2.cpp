#include "player/player_model.h"


#include "concurrency/thread_role.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_library_order.h"
#include "sd2/sd2_pair_model.h"

#include <QFileInfo>
#include <QPointer>

namespace tampod {

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

// Recovery -----------------------------------------------------------------------------------

std::optional<SD2RecoveryQueue::Status> PlayerModel::recoveryStatus() const
{
    if (!selectedID_)
        return std::nullopt;
    const auto found = recoveryQueue_->states().constFind(*selectedID_);
    return found == recoveryQueue_->states().constEnd() ? std::nullopt : std::optional(*found);
}

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

TaskHandle PlayerModel::recoverSelected(int bitDepth)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (isConfirmingRecoveryDepth_ || (bitDepth != 16 && bitDepth != 24))
        return {};
    const AudioTrack *track = currentTrack();
    const auto parameters = selectedRecoveryParameters();
    if (!track || !track->recovery || !parameters)
        return {};
    const QUuid id = track->id;
    const int sampleBytes = bitDepth / 8;
    if (parameters->sampleBytes == sampleBytes) {
        if (bitDepth == 16 && !recoveryQueue_->states().contains(id))
            restoreSD2TrialVolume(id);
        return {};
    }
    setIsConfirmingRecoveryDepth(true);
    pause();
    // The question comes once the engine is silent, not while the old interpretation plays.
    const TaskHandle paused = queuedCommandsFinished();
    QPointer<PlayerModel> self(this);
    return TaskHandle::start([self, paused, id, bitDepth, sampleBytes,
                              parameters = *parameters](CancellationToken token) mutable -> QCoro::Task<> {
        co_await paused.finished();
        // The user may have chosen another track or interpretation meanwhile.
        const auto unchanged = [&] {
            return !token.isCancelled() && self->selectedID_ == id && self->selectedRecoveryParameters() == parameters;
        };
        if (!self)
            co_return;
        if (unchanged()) {
            const bool confirmed = self->confirmRecoveryDepth(bitDepth);
            // The question ran its own event loop.
            if (!self)
                co_return;
            if (confirmed && unchanged())
                self->recoverSelected(SD2Metadata{sampleBytes, parameters.sampleRate, parameters.channels,
                                                  std::nullopt, std::nullopt});
        }
        self->setIsConfirmingRecoveryDepth(false);
    });
}

void PlayerModel::recoveryFailed(const QUuid &id, const SD2RecoveryFailure &failure)
{
    if (findTrack(id))
        recoveryWarning(failure);
}

void PlayerModel::reportSD2ImportLengths(const QList<AudioTrack> &imported)
{
    if (const auto warning = SD2LibraryOrder::importLengthWarning(tracks_, imported))
        warn(warning->title, warning->message, warning->details);
}

void PlayerModel::prepareImportedSD2(const QList<AudioTrack> &imported)
{
    for (const AudioTrack &track : imported) {
        if (!track.waitsForRecovery() || !track.recovery->requested)
            continue;
        recoveryQueue_->submit(track, track.recovery->requested->sampleRate, false);
    }
}

// Pairs --------------------------------------------------------------------------------------

bool PlayerModel::canLinkSelected() const
{
    const QList<AudioTrack> selected = selectedTracks();
    if (selected.size() != 2)
        return false;
    for (const AudioTrack &track : selected) {
        const bool sd2 = track.sd2Format || track.metadataAudio || track.recovery ||
                         QFileInfo(track.projectedURL().path()).suffix().toLower() == QStringLiteral("sd2");
        if (track.pair || !sd2 || track.waitsForRecovery() || channelCount(track) != 1 ||
            recoveryQueue_->states().contains(track.id))
            return false;
    }
    if (pairing_->isPreparing())
        return false;
    return !SD2PairModel::issue(selected[0], selected[1]) || !SD2PairModel::issue(selected[1], selected[0]);
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

} // namespace tampod
