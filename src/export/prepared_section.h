#pragma once

#include "library/audio_track.h"

#include <cstdint>

namespace tampod {

// A rendered loop section as the export side reads it: the record it was rendered from and
// its frame bounds within that source. Shared by reference (std::shared_ptr<const ...>); the
// renderer that makes sections owns their files.
struct PreparedSection {
    AudioTrack source;
    std::int64_t startFrame = 0; // inclusive
    std::int64_t endFrame = 0;   // exclusive
    std::int64_t totalFrames = 0;
    double sampleRate = 0; // Hz of the source as decoded
};

} // namespace tampod
