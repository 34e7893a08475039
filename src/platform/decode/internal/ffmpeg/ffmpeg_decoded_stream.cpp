#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"

#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

namespace tampod {

std::unique_ptr<DecodedStream> openFfmpegStream(const FileHandle &file, const AVInputFormat *input,
                                                CancellationToken token, DemuxerOptions demuxerOptions, bool glance)
{
    return std::make_unique<FfmpegStream>(file, input, std::move(token), std::move(demuxerOptions), glance);
}

std::unique_ptr<DecodedStream> openFfmpegStream(const FileHandle &file, const containerheader::Header &header,
                                                CancellationToken token, bool glance)
{
    const AVInputFormat *input = av_find_input_format(header.demuxer);
    if (!input)
        throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_DEMUXER_NOT_FOUND, openingText());
    return std::make_unique<FfmpegStream>(file, input, std::move(token), DemuxerOptions{}, glance, &header);
}

} // namespace tampod
