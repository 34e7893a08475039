#pragma once

// Private to the platform module.

#include <cstdint>
#include <optional>
#include <span>

namespace tampod {
class FileHandle;
}

namespace tampod::flaclength {

// The total sample count STREAMINFO states for the FLAC stream whose "fLaC" mark is at start,
// where the file bears it out: its last frame (the whole frame nearest the end, before whatever
// tags, padding or junk follow it) decodes with both checksums holding and ends exactly at that
// count. nullopt where the count is absent, or the file is cut short, overstates its length or
// ends in more than that allows: only a decode knows the length then. Reads from the end the largest
// frame's size and a few KB, and further back only while no whole frame has been found, up to
// the room allowed for trailing bytes. Throws only when reading fails.
// tagged: where the tags at the file's end (ID3v1, APE) begin as their sizes state; the bytes from
// there on are searched only where no frame ends before them.
std::optional<int64_t> proven(const FileHandle &file, int64_t start, int64_t tagged);

// Whether whole frames (their checksums holding) follow the FLAC stream whose "fLaC" mark is at
// start out of order: one numbered before a frame already passed, as where a second file was
// joined on or a frame copied after the end. Reads the file once, in large pieces; looks at
// frame headers only, decoding just the frames that go back or skip ahead. false where the walk
// cannot tell (no STREAMINFO, too many headers holding by chance). Throws only when reading fails.
bool framesOutOfOrder(const FileHandle &file, int64_t start);

// Of a FLAC stream whose STREAMINFO block is streamInfo (as a decoder's extradata holds it, with
// or without the "fLaC" mark and block header before it): the sample count it states (0 where
// none), and the first sample of the frame whose header begins frame, as the header's number
// states it (nullopt where the header does not hold).
int64_t statedTotal(std::span<const uint8_t> streamInfo);
std::optional<int64_t> frameStart(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo);

// Whether a FLAC stream begins at the first of bytes: its "fLaC" mark and the header of the
// STREAMINFO block that must come first. A test for streamstart::nearest.
bool streamAt(std::span<const uint8_t> bytes);

} // namespace tampod::flaclength
