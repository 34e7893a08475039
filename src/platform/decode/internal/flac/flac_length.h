#pragma once

// Private to the platform module.

#include <cstdint>
#include <optional>
#include <span>

namespace tampod {
class FileHandle;
}

namespace tampod::flaclength {

// What the end of a FLAC stream and a few frames inside it tell of the stream whose "fLaC" mark
// is at start, without reading it whole.
// total: the frames the stream holds, where the file bears out the sample count STREAMINFO states:
// its last frame (the whole frame nearest the end, before whatever tags, padding or junk follow
// it) decodes with both checksums holding and ends exactly at that count. It is that count less
// firstSample, the number of the stream's first frame where its header holds: a stream trimmed at
// its start without being encoded again keeps the numbers its frames had and the count of the
// whole, and a decode delivers its frames from the first. nullopt where the count is absent, or
// the file is cut short, overstates its length or ends in more than that allows: only a decode
// knows the length then.
// audioEnd: where that last frame ends (the file's end where the count is not proven): a decoder
// that seeks by bisection sees nothing after it.
// outOfOrder: of a proven count, whether whole frames found at a few places through the stream go
// back in their numbering, as where a second file of the same length was joined on.
// Reads from the end a piece at a time, back only as far as the last whole frame, up to the room
// allowed for trailing bytes, the first frame's header, and a little at each of those places;
// nothing it reads depends on the frame size STREAMINFO states. Throws only when reading fails.
// tagged: where the tags at the file's end (ID3v1, APE) begin as their sizes state; the bytes from
// there on are searched only where no frame ends before them.
struct Proof {
    std::optional<int64_t> total;
    int64_t firstSample = 0;
    int64_t audioEnd = 0;
    bool outOfOrder = false;
};
Proof prove(const FileHandle &file, int64_t start, int64_t tagged);
// prove's total alone, from the end and the first frame's header alone.
std::optional<int64_t> proven(const FileHandle &file, int64_t start, int64_t tagged);

// Of a FLAC stream whose STREAMINFO block is streamInfo (as a decoder's extradata holds it, with
// or without the "fLaC" mark and block header before it): the sample count it states (0 where
// none), and the first sample of the frame whose header begins frame, as the header's number
// states it (nullopt where the header does not hold). A frame numbered by its frame number
// starts that many of STREAMINFO's largest blocks in, or of fixedBlock where given.
int64_t statedTotal(std::span<const uint8_t> streamInfo);
std::optional<int64_t> frameStart(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo,
                                  int64_t fixedBlock = 0);
// The same header's first sample and its number of samples; and whether a whole frame's stored
// checksum holds over its bytes.
struct FrameNumbers {
    int64_t firstSample = 0;
    int64_t blocksize = 0;
};
std::optional<FrameNumbers> frameNumbers(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo,
                                         int64_t fixedBlock = 0);
// Where STREAMINFO's smallest and largest block sizes differ, they do not tell the size of a
// stream's frames numbered by their frame numbers: every frame but the last has the size of the
// stream's first frame, whose header begins firstFrame. That size; 0 where the sizes agree, the
// header does not hold or it numbers its frame by its first sample.
int64_t fixedBlockOf(std::span<const uint8_t> firstFrame, std::span<const uint8_t> streamInfo);
bool frameChecksumHolds(std::span<const uint8_t> frame);

// Whether a FLAC stream begins at the first of bytes: its "fLaC" mark and the header of the
// STREAMINFO block that must come first. A test for streamstart::nearest.
bool streamAt(std::span<const uint8_t> bytes);

} // namespace tampod::flaclength
