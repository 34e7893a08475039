#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

struct AVInputFormat;

namespace tampod {

// Demuxes and decodes file through FFmpeg with the demuxer the probe chose, reading through
// our own descriptor. Decodes the first frame before it returns.
std::unique_ptr<DecodedStream> openFfmpegStream(const FileHandle &file, const AVInputFormat *input,
                                                CancellationToken token);

} // namespace tampod
