#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "files/store/temporary_audio_store.h"
#include "library/audio_track.h"
#include "library/sd2_metadata.h"
#include "library/sd2_recovered_copy.h"
#include "platform/forks/fork_store.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace tampod {

// Progress of one preparation, 0...1: up to 0.8 while copying, up to 0.99 while reading the
// copy back, 1.0 once it passed every check. Called on the service's worker between chunks, at
// most about a hundred times a phase; the work waits for it, so it must not block.
using SD2RecoveryProgress = std::function<void(double)>;

// A progress callback that posts each report to the main thread, where report runs while
// receiver still exists. The worker never waits for the main thread.
SD2RecoveryProgress mainThreadProgress(QObject *receiver, std::function<void(double)> report);

using SD2RecoveredCopyPointer = std::shared_ptr<const SD2RecoveredCopy>;

// What the recovery queue needs of the service.
class SD2RecoveryServing {
public:
    virtual ~SD2RecoveryServing() = default;
    virtual Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                                   CancellationToken token) = 0;
};

// Turns headerless SD2 audio into a verified WAV working copy, "Recovered.wav", in a fresh job
// folder of the temporary-audio store. The source is only read. A copy is accepted only when its
// PCM read back hashes to what was written and an independent reader sees exactly the expected
// format and length; otherwise, and on cancellation, its folder is removed at once.
// An actor: one preparation at a time on its own worker.
class SD2RecoveryService final : public SD2RecoveryServing {
public:
    using StoreProvider = std::function<TemporaryAudioStore &()>;

    static constexpr qint64 maximumDataBytes = 4294967251; // 2^32 − 45
    static constexpr qint64 chunkBytes = 262144;

    explicit SD2RecoveryService(StoreProvider store = &TemporaryAudioStore::shared, ForkStore forks = ForkStore());

    // A missing-metadata track at the given rate, with its requested (else its copy's, else
    // 16-bit stereo) sample size and channels. Fails with SD2RecoveryError::changed when the
    // source stopped being eligible by the time the copy was made.
    Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                           CancellationToken token) override;
    // The copy for exactly these parameters; the caller decides eligibility. Out-of-range
    // parameters are SD2MetadataError::unsupported.
    Async<SD2RecoveredCopyPointer> prepare(AudioTrack track, SD2Metadata metadata, SD2RecoveryProgress progress,
                                           CancellationToken token);

    // Whether a file may be treated as a missing-metadata SD2 file: an SD2 name, a regular file
    // (not a link) of 1 to maximumDataBytes bytes, and no resource metadata anywhere.
    static bool eligible(const QUrl &url, const ForkStore &forks = ForkStore());

private:
    SD2RecoveredCopyPointer recoverNow(const AudioTrack &track, int rate, const SD2RecoveryProgress &progress,
                                       const CancellationToken &token) const;
    SD2RecoveredCopyPointer prepareNow(const AudioTrack &track, const SD2Metadata &metadata,
                                       const SD2RecoveryProgress &progress, const CancellationToken &token) const;

    const StoreProvider store_;
    const ForkStore forks_;
    SerialExecutor executor_; // last: its destructor finishes queued jobs before the rest goes
};

} // namespace tampod
