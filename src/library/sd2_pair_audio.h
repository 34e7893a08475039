#pragma once

#include "library/audio_track.h"
#include "library/sd2_recovered_copy.h"

#include <QString>

#include <memory>

namespace tampod {

// A linked .L/.R pair: the two channel records as they were when linked, and the verified
// stereo working copy that plays in their place. Immutable; shared by the records holding
// it, and the copy's folder goes with the last of them.
class SD2PairAudio {
public:
    SD2PairAudio(AudioTrack left, AudioTrack right, std::shared_ptr<const SD2RecoveredCopy> copy);
    SD2PairAudio(const SD2PairAudio &) = delete;
    SD2PairAudio &operator=(const SD2PairAudio &) = delete;

    const AudioTrack &left() const { return left_; }
    const AudioTrack &right() const { return right_; }
    const std::shared_ptr<const SD2RecoveredCopy> &copy() const { return copy_; }
    // The recording stem of the left file, else both export stems joined by " + ".
    const QString &name() const { return name_; }

private:
    const AudioTrack left_;
    const AudioTrack right_;
    const std::shared_ptr<const SD2RecoveredCopy> copy_;
    const QString name_;
};

} // namespace tampod
