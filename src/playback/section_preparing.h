#pragma once

#include "playback/prepared_section.h"
#include "playback/section_range.h"

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "library/audio_track.h"

#include <functional>
#include <memory>

namespace tampod {

// Renders a loop section of a track. progress receives fractions 0…1 of the section's frames
// on the rendering thread (post to the main thread from there); the rendering stops with
// Cancelled between chunks once token is cancelled. co_await the result on the main thread.
class SectionPreparing {
public:
    using Progress = std::function<void(double fraction)>;

    virtual ~SectionPreparing() = default;
    virtual Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange range,
                                                                  Progress progress, CancellationToken token) = 0;
};

} // namespace tampod
