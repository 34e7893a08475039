#pragma once

#include "concurrency/cancellation.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tampod::FlacFileCheck {

// What the STREAMINFO block of a FLAC file states.
struct Stream {
    std::int64_t frames = 0;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
};

// Decodes every frame of a FLAC file with libFLAC on the calling thread: each frame's CRC must
// hold, frames must follow each other without a gap and match STREAMINFO, and together they
// must deliver exactly the stated length. nullopt when any of that fails; SystemError when the
// file cannot be opened or read; Cancelled between frames.
std::optional<Stream> decodeAll(const QString &path, const CancellationToken &token);

} // namespace tampod::FlacFileCheck
