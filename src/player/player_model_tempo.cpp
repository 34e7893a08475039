#include "player/player_model.h"

#include "concurrency/thread_role.h"

#include <cmath>

namespace tampod {

namespace {

const QString bpmFailedTitle = QStringLiteral("BPM couldn’t be detected");

} // namespace

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

void PlayerModel::bpmCompleted(const AudioTrack &track, double bpm)
{
    const int index = indexOf(track.id);
    // Removed, or its audio changed while the detection ran; a tempo is never overwritten, and
    // a recovery under way will change the audio.
    if (index < 0 || tracks_.at(index).audioURL() != track.audioURL() || tracks_.at(index).effectiveBPM() ||
        recoveryQueue_->states().contains(track.id))
        return;
    // Its own row redraws, not the library: the list, its order and its index stay.
    tracks_[index].detectedBPM = std::isfinite(bpm) && bpm > 0 ? std::optional(bpm) : std::nullopt;
    Q_EMIT trackChanged(track.id);
}

void PlayerModel::bpmFailed(const QUuid &id, const QString &message)
{
    if (findTrack(id))
        warn(bpmFailedTitle, message, {});
}

} // namespace tampod
