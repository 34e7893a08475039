#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

namespace tampod {

// The fast path for PCM in WAV, W64, AIFF, CAF and AU: libsndfile reads file's bytes through
// us and converts straight into the caller's buffer. format and length are what FFmpeg found;
// null when libsndfile does not see exactly the same stream, so the caller keeps FFmpeg's.
std::unique_ptr<DecodedStream> openSndfileStream(const FileHandle &file, const AudioFileFormat &format,
                                                 int64_t length, CancellationToken token);

} // namespace tampod
