#pragma once

// Private to the platform module.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace tampod {
class FileHandle;
}

namespace tampod::streamstart {

// Whether a stream begins at the first of bytes. They run on past it by lookAhead bytes or to
// the end of the file, which fileEnds says they reach.
using Test = std::function<bool(std::span<const uint8_t> bytes, bool fileEnds)>;

// What a test may look at past the byte it judges: the headers of a few frames of any stream.
constexpr int64_t lookAhead = 8192;

// Taggers miscount the tags before a stream by a few bytes either way. The stream is looked for
// as the command-line decoders resync after a tag: forward from where the tags say they end,
// up to bytesAfter further (a tag whose size falls short leaves its last bytes before the
// stream), and up to bytesBefore earlier (a size counted too large puts that end inside the
// first frame, whose header the decoders then miss).
constexpr int64_t bytesBefore = 64;
constexpr int64_t bytesAfter = 64 << 10;

// The offset nearest to stated, at most bytesBefore before it or bytesAfter after it and never
// before floor, where startsAt holds; nullopt where it holds nowhere there. Throws only when
// reading the file fails.
std::optional<int64_t> nearest(const FileHandle &file, int64_t stated, int64_t floor, const Test &startsAt);

} // namespace tampod::streamstart
