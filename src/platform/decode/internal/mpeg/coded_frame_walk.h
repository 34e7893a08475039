#pragma once

// Private to the platform module.

#include <cstdint>
#include <optional>
#include <span>

namespace tampod {
class FileHandle;
}

namespace tampod::codedframes {

// A raw coded stream whose frame headers alone give its decoded length.
struct Walk {
    int sampleRate = 0; // as the frame headers state it
    int channels = 0;
    int64_t samples = 0; // per channel, over every frame
    int64_t end = 0;     // where the last frame ends: the end of the file, or a tag's first byte
};

// Each walk reads every frame header from start (the first frame) to the end of the file and
// gives nullopt unless all of them are valid, agree with the first, follow each other without
// a gap and end exactly where the audio may end: at the end of the file, or on the first byte of
// the ID3v1 and APE tags after the last frame (trailingtags::possibleEnds). Bytes that only look
// like a tag inside the last frame stay audio. Throws only when reading the file fails.

// ADTS AAC-LC without CRCs, one raw data block a frame: 1,024 samples each, at the header's rate.
std::optional<Walk> adts(const FileHandle &file, int64_t start, int64_t fileSize);

// AC-3 (1,536 samples a frame), or E-AC-3 of one independent substream in six-block frames;
// every frame's CRCs must hold.
std::optional<Walk> ac3(const FileHandle &file, int64_t start, int64_t fileSize, bool enhanced);

// MPEG Layer III without an encoder's Xing/Info/VBRI frame and at a stated bit rate: 1,152
// samples a frame for MPEG-1, 576 for MPEG-2 and 2.5.
std::optional<Walk> mpegLayer3(const FileHandle &file, int64_t start, int64_t fileSize);

// MPEG Layer III frames from start on, each where the one before ends and alike in version,
// rate and channels, as far as they go: how many, and where the last one ends (start where
// none begins there). Reads every frame header: one pass over the stream's bytes.
struct Chain {
    int64_t frames = 0;
    int64_t end = 0;
};
Chain layer3Chain(const FileHandle &file, int64_t start, int64_t fileSize);

// Whether the span bytes before end hold MPEG Layer III frames alike the one at like (in
// version, rate and channels), each where the one before ends, the first of them within a
// frame's length of the span's start and the last ending exactly at end: a stream's end told
// by one small read near it. Damage, junk or a cut there fails it.
bool layer3FramesEndAt(const FileHandle &file, int64_t like, int64_t end, int64_t span);

// The size of the Layer III frame whose header is the first four of bytes; nullopt where they
// hold none (or a free-format one).
std::optional<int64_t> layer3FrameBytes(std::span<const uint8_t> bytes);

// Whether count Layer III frames of the version and rate of the one whose header is the first
// four of bytes may take exactly total bytes: where constant, at that frame's bit rate, within
// two bytes of count times its exact size (encoders pad some frames by a byte to keep the rate
// exact); else each at any bit rate that version allows.
bool layer3CountFits(std::span<const uint8_t> bytes, int64_t count, int64_t total, bool constant);

// Whether MPEG Layer III frames begin anywhere from offset from on: a valid frame header whose
// frame is followed by another valid header, or ends exactly where the file does. Tags, padding
// and junk after a stream hold none; a second stream joined on does.
bool layer3FramesFrom(const FileHandle &file, int64_t from, int64_t fileSize);

// Whether MPEG Layer III frames begin at the first of bytes: three frame headers alike, each
// where the frame before ends, or fewer whose last frame ends where the file does (fileEnds: the
// bytes run to the file's end). A test for streamstart::nearest.
bool layer3FramesAt(std::span<const uint8_t> bytes, bool fileEnds);

} // namespace tampod::codedframes
