#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

#include <string>
#include <utility>
#include <vector>

struct AVInputFormat;

namespace tampod {

// Demuxes and decodes file through FFmpeg with the demuxer the probe chose, reading through
// our own descriptor. Decodes the first frame before it returns. demuxerOptions: what a
// demuxer cannot learn from the bytes (a raw PCM stream's rate and layout). glance: only a few
// frames will be read, so the decoder starts no threads of its own.
using DemuxerOptions = std::vector<std::pair<std::string, std::string>>;
std::unique_ptr<DecodedStream> openFfmpegStream(const FileHandle &file, const AVInputFormat *input,
                                                CancellationToken token, DemuxerOptions demuxerOptions = {},
                                                bool glance = false);

namespace containerheader {
struct Header;
}
// The same with the demuxer the header names, trusting its description (or, where the demuxer
// reads the parameters from the header itself, the demuxer's) so no decode runs to learn them.
// Throws AudioFileError where the file is not what the header promised.
std::unique_ptr<DecodedStream> openFfmpegStream(const FileHandle &file, const containerheader::Header &header,
                                                CancellationToken token, bool glance = false);

} // namespace tampod
