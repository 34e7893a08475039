#pragma once

#include "playback/playback_snapshot.h"
#include "playback/prepared_section.h"

#include "concurrency/async.h"
#include "library/audio_track.h"

#include <memory>

namespace tampod {

// The playback engine as the command queue sees it. Every operation runs on the engine's
// own executor; co_await the result on the main thread. load, loadSection and play throw
// PlaybackFailure or the source's own error.
class PlaybackServing {
public:
    virtual ~PlaybackServing() = default;

    virtual Async<void> load(AudioTrack track, double volume, bool repeating) = 0;
    virtual Async<void> loadSection(AudioTrack track, std::shared_ptr<const PreparedSection> section,
                                    double volume) = 0;
    virtual Async<void> play() = 0;
    virtual Async<void> pause() = 0;
    virtual Async<void> unload() = 0;
    virtual Async<void> seek(double seconds) = 0;
    virtual Async<void> setVolume(double volume) = 0;
    virtual Async<void> setRepeat(bool repeating) = 0;
    virtual Async<PlaybackSnapshot> snapshot() = 0;
};

} // namespace tampod
