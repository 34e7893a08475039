#pragma once

#include <cstdint>
#include <optional>

namespace tampod {
class FileHandle;
}

namespace tampod::mpegaudio {

// A header cut short or garbled is none; a read the system fails throws its SystemError, never
// taken for a file without one (whose frames would be walked for another length).

// Whether a Layer III frame with a Xing/Info header starts at offset: an encoder's own mark,
// strong enough to recognise a file too short for content probing.
bool hasInfoHeader(const FileHandle &file, int64_t offset);

// An MPEG Layer III stream whose first frame carries a Xing/Info header with a frame count, a
// byte count and a LAME-style encoder delay and padding: its exact decoded length, frames ×
// samples per frame − delay − padding (what the decoder delivers once it trims both ends), and
// where its bytes end. nullopt when the header is absent or implausible, or the frames do not
// bear its counts out: a file cut short, a count written wrong, or one where further frames
// follow (several files joined end to end). Tags, padding or junk may follow. A header that
// agrees with the file at its end (its own CRC, its counts, its last frames) is taken from a
// small read there; any other is checked by a walk of every frame header, one pass over the
// stream.
struct Trimmed {
    int64_t length = 0;
    int64_t end = 0;
    // The header's counts: samples a frame, and the frames after its own and their bytes.
    int64_t samplesPerFrame = 0;
    int64_t frames = 0;
    int64_t frameBytes = 0;
};
std::optional<Trimmed> trimmed(const FileHandle &file, int64_t firstFrameOffset, int64_t fileSize);

// A Layer III stream whose first frame carries an encoder's Info header: the frame header's
// rate and channels. Whether its count holds is trimmed()'s to tell.
struct TaggedStream {
    int sampleRate = 0;
    int channels = 0;
};
std::optional<TaggedStream> taggedStream(const FileHandle &file, int64_t firstFrameOffset);

} // namespace tampod::mpegaudio
