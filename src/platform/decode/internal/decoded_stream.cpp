#include "platform/decode/internal/decoded_stream.h"

#include "core/file_handle.h"
#include "core/number_text.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/flac/flac_decoded_stream.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/decode/internal/pcm/sndfile_decoded_stream.h"
#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tampod {

namespace {

// Whether both streams deliver the same first frames, bit for bit: a native library may only
// take over where it found the very data FFmpeg found. The stream that goes on is left at frame 0.
bool sameStart(DecodedStream &ffmpeg, DecodedStream &native, int64_t length)
{
    const int channels = ffmpeg.format().channels;
    const int64_t frames = std::min<int64_t>(length, 1024);
    if (frames == 0)
        return true;
    std::vector<float> fromFfmpeg(size_t(frames * channels)), fromNative(fromFfmpeg.size());
    SampleSink sink;
    sink.layout = SampleSink::Layout::floatInterleaved;
    sink.channels = channels;
    bool same = false;
    try {
        sink.interleaved = fromFfmpeg.data();
        same = ffmpeg.read(sink, frames) == frames;
        sink.interleaved = fromNative.data();
        same = same && native.read(sink, frames) == frames
               && std::memcmp(fromFfmpeg.data(), fromNative.data(), fromFfmpeg.size() * sizeof(float)) == 0;
    } catch (const AudioFileError &) {
        same = false; // FFmpeg reports its own errors again when they come
    }
    (same ? native : ffmpeg).seek(0);
    return same;
}

flaclength::Proof flacProof(const FileHandle &file, int64_t start)
{
    return LengthCache::shared().flacProof(file, start, trailingtags::audioEnd(file, start, file.size()));
}

// A native stream where one delivers the very frames FFmpeg's does, only faster over long
// reads; else FFmpeg's. A glance reads no frames, so it keeps FFmpeg's.
std::unique_ptr<DecodedStream> preferNative(std::unique_ptr<DecodedStream> stream, const FileHandle &file,
                                            const FallbackStream &ffmpegAgain, const CancellationToken &token,
                                            bool glance)
{
    const std::optional<int64_t> length = glance ? std::nullopt : stream->knownLength();
    if (!length)
        return stream;
    std::unique_ptr<DecodedStream> fast;
    if (stream->format().codec == AudioCodecKind::flac) {
        const int64_t start = ffmpeg::id3v2Length(file, 0);
        // The proof made as the header was read: libFLAC's seeks see the stream up to its last
        // frame, and find the frames by their numbers.
        const flaclength::Proof proof = flacProof(file, start);
        if (proof.outOfOrder)
            return stream; // refused before a frame is read
        fast = openFlacStream(file, start, stream->format(), *length, ffmpegAgain, token, proof.audioEnd,
                              proof.firstSample);
    } else {
        fast = openSndfileStream(file, stream->format(), *length, token);
    }
    if (fast && sameStart(*stream, *fast, *length))
        return fast;
    return stream;
}

// The stream as its container header describes it, without probing every demuxer or decoding
// to learn what the header states; null where the header is absent, odd or not borne out.
std::unique_ptr<DecodedStream> openByHeader(const FileHandle &file, const CancellationToken &token, bool glance)
{
    const std::optional<containerheader::Header> header = containerheader::read(file);
    if (!header || !header->parametersInHeader)
        return nullptr;
    const auto &described = header->description;
    if (described && described->format.codec == AudioCodecKind::lpcm) {
        if (auto fast = openSndfileStream(file, described->format, *described->exactLength, token))
            return fast;
    }
    std::unique_ptr<DecodedStream> stream;
    try {
        stream = openFfmpegStream(file, *header, token, glance);
    } catch (const AudioFileError &error) {
        // A read the system failed is the open's failure: the full probe would read the file
        // again and might describe it otherwise.
        if (error.kind() == AudioFileError::Kind::io)
            throw;
        return nullptr; // the full probe decides, and reports its own errors
    }
    if (stream->format().codec != AudioCodecKind::flac)
        return stream;
    const FallbackStream ffmpegAgain = [&file, header = *header](CancellationToken again) {
        return openFfmpegStream(file, header, std::move(again), false);
    };
    return preferNative(std::move(stream), file, ffmpegAgain, token, glance);
}

// A FLAC file whose stream is followed by frames out of order (a second file joined on, a stray
// copy of a frame) is refused: the format's own decoder stops at them with an error, other
// decoders deliver different lengths, and a seek by the frames' numbers cannot place them, so
// the file has no one length to state, read, seek in and export. Where the last frame proves the
// header's count, frames at a few places through the stream tell (a second file of the same
// length joined on ends where the first should); where it does not, the decode that counts the
// length meets every frame, so it is made now, once for the unchanged file, and the next reader
// takes both its count and what it found.
std::unique_ptr<DecodedStream> refusingFramesOutOfOrder(std::unique_ptr<DecodedStream> stream, const FileHandle &file,
                                                        const CancellationToken &token)
{
    const AudioFileFormat &format = stream->format();
    if (format.codec != AudioCodecKind::flac || format.container != u"flac")
        return stream;
    bool outOfOrder = false;
    if (stream->knownLength()) {
        outOfOrder = flacProof(file, ffmpeg::id3v2Length(file, 0)).outOfOrder;
    } else {
        try {
            LengthCache::shared().count(file, LengthCache::shared().identityOf(file), *stream, token);
        } catch (const AudioFileError &error) {
            // A decode that fails on the data fails where the length is asked, as it always did;
            // a file that cannot be read fails now.
            if (error.kind() == AudioFileError::Kind::io)
                throw;
            stream->seek(0);
            return stream;
        }
        token.throwIfCancelled(); // a pass the token stopped may have ended early
        const auto counted = stream->counted();
        outOfOrder = counted && counted->framesOutOfOrder;
        if (!outOfOrder)
            stream->seek(0);
    }
    if (outOfOrder)
        failFramesOutOfOrder(openingText());
    return stream;
}

} // namespace

void failFramesOutOfOrder(const QString &operation)
{
    throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_INVALIDDATA, operation,
                         QStringLiteral("frames of the stream follow it out of order"));
}

void failRead(int errnoValue, const QString &operation)
{
    throw AudioFileError(AudioFileError::Kind::io, AVERROR(errnoValue ? errnoValue : EIO), operation,
                         QStringLiteral("the file could not be read"));
}

std::unique_ptr<DecodedStream> openDecodedStream(const FileHandle &file, CancellationToken token, bool glance)
{
    token.throwIfCancelled();
    ffmpeg::silenceLog();
    if (auto fast = openByHeader(file, token, glance))
        return refusingFramesOutOfOrder(std::move(fast), file, token);
    const AVInputFormat *input = ffmpeg::probeInputFormat(file, nullptr, false);
    if (!input)
        throw AudioFileError(AudioFileError::Kind::notAudio, AVERROR_INVALIDDATA, openingText(),
                             QStringLiteral("the content is not a recognised audio stream"));
    // FFmpeg describes every stream, so the description never depends on the path taken.
    std::unique_ptr<DecodedStream> stream = openFfmpegStream(file, input, token, {}, glance);
    const FallbackStream ffmpegAgain = [&file, input](CancellationToken again) {
        return openFfmpegStream(file, input, std::move(again));
    };
    return refusingFramesOutOfOrder(preferNative(std::move(stream), file, ffmpegAgain, token, glance), file, token);
}

std::unique_ptr<DecodedStream> openRawPCMStream(const FileHandle &file, int sampleRate, int channels, int bits,
                                                CancellationToken token)
{
    token.throwIfCancelled();
    const char *demuxer = bits == 8    ? "s8"
                          : bits == 16 ? "s16be"
                          : bits == 24 ? "s24be"
                          : bits == 32 ? "s32be"
                                       : nullptr;
    if (!demuxer || channels < 1 || channels > 2 || sampleRate < 1)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), openingText(),
                             QStringLiteral("unsupported raw PCM parameters"));
    ffmpeg::silenceLog();
    const AVInputFormat *input = av_find_input_format(demuxer);
    if (!input)
        throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_DEMUXER_NOT_FOUND, openingText());
    return openFfmpegStream(file, input, std::move(token),
                            {{"sample_rate", NumberText::whole(sampleRate)},
                             {"ch_layout", channels == 1 ? "mono" : "stereo"}});
}

} // namespace tampod
