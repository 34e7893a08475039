#include "platform/decode/internal/decoded_stream.h"

#include "platform/audio_file_error.h"
#include "platform/decode/internal/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg_probe.h"
#include "platform/decode/internal/sndfile_decoded_stream.h"
#include "platform/internal/ffmpeg_owners.h"

namespace tampod {

std::unique_ptr<DecodedStream> openDecodedStream(const FileHandle &file, CancellationToken token)
{
    token.throwIfCancelled();
    ffmpeg::silenceLog();
    const AVInputFormat *input = ffmpeg::probeInputFormat(file);
    if (!input)
        throw AudioFileError(AudioFileError::Kind::notAudio, AVERROR_INVALIDDATA, openingText(),
                             QStringLiteral("the content is not a recognised audio stream"));
    // FFmpeg describes every stream, so the description never depends on the path taken.
    std::unique_ptr<DecodedStream> stream = openFfmpegStream(file, input, token);
    if (const std::optional<int64_t> length = stream->knownLength()) {
        if (auto fast = openSndfileStream(file, stream->format(), *length, token))
            return fast;
    }
    return stream;
}

} // namespace tampod
