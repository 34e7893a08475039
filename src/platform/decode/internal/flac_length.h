#pragma once

// Private to the platform module.

#include <cstdint>
#include <optional>

namespace tampod {
class FileHandle;
}

namespace tampod::flaclength {

// The total sample count STREAMINFO states for the FLAC stream whose "fLaC" mark is at start,
// where the file bears it out: its last frame is whole (header and frame checksums hold and it
// ends the file) and ends exactly at that count. nullopt where the count is absent, or the file
// is cut short, overstates its length or ends in anything else: only a decode knows the length
// then. Reads at most the largest frame's size from the end. Throws only when reading fails.
std::optional<int64_t> proven(const FileHandle &file, int64_t start);

} // namespace tampod::flaclength
