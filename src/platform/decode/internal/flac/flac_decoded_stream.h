#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

#include <functional>
#include <optional>

namespace tampod {

// What a native stream hands over to when it meets data it will not vouch for: a fresh
// FFmpeg stream of the same file, at frame 0.
using FallbackStream = std::function<std::unique_ptr<DecodedStream>(CancellationToken)>;

// The fast path for FLAC files: libFLAC decodes file's descriptor from start (the stream's
// "fLaC" mark, after any tags before it) and converts straight into the caller's buffer. format
// and length are what FFmpeg found; null when STREAMINFO says otherwise. At the first sign of damage (a lost sync, a bad CRC, a frame out of order or
// missing, an early end) the rest of the work goes to fallback, so damaged files end and fail as
// FFmpeg decides. end: where the last frame ends, where known (tags or junk after it); libFLAC,
// whose seeks bisect the stream, sees nothing past it. firstSample: the number of the stream's
// first frame, which is frame 0 of the stream delivered (a stream trimmed at its start keeps its
// frames' numbers and STREAMINFO's count: length is that count less firstSample).
std::unique_ptr<DecodedStream> openFlacStream(const FileHandle &file, int64_t start, const AudioFileFormat &format,
                                              int64_t length, FallbackStream fallback,
                                              CancellationToken token, std::optional<int64_t> end = std::nullopt,
                                              int64_t firstSample = 0);

} // namespace tampod
