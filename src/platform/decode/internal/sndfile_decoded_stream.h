#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

namespace tampod {

// The fast path for PCM in WAV, W64, AIFF, CAF and AU: libsndfile reads file's descriptor and
// converts straight into the caller's buffer. format and length are what FFmpeg found; null
// when libsndfile does not see exactly the same stream, so the caller keeps FFmpeg's.
// ownDescriptor: libsndfile gets a duplicate of its own, so a refusal (which closes the
// descriptor it was given) leaves file open for another reader.
std::unique_ptr<DecodedStream> openSndfileStream(const FileHandle &file, const AudioFileFormat &format,
                                                 int64_t length, CancellationToken token,
                                                 bool ownDescriptor = false);

} // namespace tampod
