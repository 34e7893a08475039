#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "library/audio_track.h"

#include <functional>

namespace tampod {

// Turns one library track into one tempo. The detection queue sees the analysis service only
// through this, so tests can stand in for it.
class BPMAnalyzing {
public:
    // Called from any thread with fractions of the work done; must be cheap.
    using Progress = std::function<void(double)>;

    virtual ~BPMAnalyzing() = default;

    // A finite tempo above 0, or the error that ended the analysis (Cancelled once token is
    // cancelled). Awaited on the main thread; the work runs elsewhere.
    virtual Async<double> detect(AudioTrack track, Progress progress, CancellationToken token) = 0;
};

} // namespace tampod
