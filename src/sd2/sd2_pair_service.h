#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "files/store/temporary_audio_store.h"
#include "library/audio_track.h"

#include <functional>

namespace tampod {

// Join progress, 0...1, called on the service's worker after every chunk; the work waits for
// it, so it must not block.
using SD2PairProgress = std::function<void(double)>;

// Links two mono SD2 channel tracks into one library track that plays as stereo: checks them
// with the pair model, joins their playable files into a verified "Stereo.wav" in a fresh job
// folder of the temporary-audio store, and wraps copy and channels into a track whose pair is
// set. The channel files are only read. Any failure, and a cancellation, removes the job
// folder at once; afterwards it goes with the last holder of the pair's copy.
// An actor; one is made for each preparation.
class SD2PairService {
public:
    using StoreProvider = std::function<TemporaryAudioStore &()>;

    explicit SD2PairService(StoreProvider store = &TemporaryAudioStore::shared);

    // Fails with AudioExportError::invalidSettings carrying the pair model's reason, the join's
    // errors, unsupportedSource without left parameters and verificationFailed when the copy
    // does not read back as two channels of the joined length, rate and depth.
    Async<AudioTrack> prepare(AudioTrack left, AudioTrack right, SD2PairProgress progress, CancellationToken token);

private:
    AudioTrack prepareNow(const AudioTrack &left, const AudioTrack &right, const SD2PairProgress &progress,
                          const CancellationToken &token) const;

    const StoreProvider store_;
    SerialExecutor executor_; // last: its destructor finishes queued jobs before the rest goes
};

} // namespace tampod
