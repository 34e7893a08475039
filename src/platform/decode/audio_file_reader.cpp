#include "platform/decode/audio_file_reader.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/ffmpeg_file_input.h"
#include "platform/internal/ffmpeg_owners.h"
#include "platform/decode/internal/ffmpeg_probe.h"
#include "platform/decode/internal/mpeg_audio_info.h"
#include "platform/internal/pcm_conversion.h"
#include "platform/decode/sample_rate_converter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <numeric>
#include <unistd.h>
#include <vector>

namespace tampod {

namespace {

constexpr int maximumChannels = 64;
constexpr int maximumSampleRate = 1536000;
// Frames decoded and dropped before a seek target of a lossy stream, so the decoder's
// overlap and bit reservoir are filled as they are in a read from the start.
constexpr int64_t lossyPrerollFrames = 16384;
// Client frames converted and dropped before a seek target, so the filter has its history.
constexpr int64_t converterPrerollFrames = 8192;
// Rejected packets in a row before a stream counts as damaged rather than glitched.
constexpr int maximumConsecutiveErrors = 64;

enum class Layout { discard, floatPlanar, floatInterleaved, int32Interleaved };

struct Sink {
    Layout layout = Layout::discard;
    float *const *planar = nullptr;
    float *interleaved = nullptr;
    int32_t *ints = nullptr;
};

const QString &openingText()
{
    static const QString text = QStringLiteral("Opening the audio file");
    return text;
}
const QString &decodingText()
{
    static const QString text = QStringLiteral("Decoding audio");
    return text;
}

struct SampleFloat {
    static float of(uint8_t v) { return float(int(v) - 128) * (1.0f / 128.0f); }
    static float of(int16_t v) { return float(v) * (1.0f / 32768.0f); }
    static float of(int32_t v) { return float(double(v) * (1.0 / 2147483648.0)); }
    static float of(int64_t v) { return float(double(v) * (1.0 / 9223372036854775808.0)); }
    static float of(float v) { return v; }
    static float of(double v) { return float(v); }
};
struct SampleInt {
    static int32_t of(uint8_t v) { return int32_t(uint32_t(int(v) - 128) << 24); }
    static int32_t of(int16_t v) { return int32_t(uint32_t(int32_t(v)) << 16); }
    static int32_t of(int32_t v) { return v; }
    static int32_t of(int64_t v) { return int32_t(v >> 32); }
    static int32_t of(float v) { return pcm::floatToInt(v, 32); }
    static int32_t of(double v) { return pcm::floatToInt(float(v), 32); }
};

template <typename T>
void copyTyped(const AVFrame *frame, bool planarSource, int channels, int offset, int count,
               const Sink &sink, int64_t sinkOffset)
{
    for (int c = 0; c < channels; ++c) {
        const T *source;
        ptrdiff_t stride;
        if (planarSource) {
            source = reinterpret_cast<const T *>(frame->extended_data[c]) + offset;
            stride = 1;
        } else {
            source = reinterpret_cast<const T *>(frame->extended_data[0]) + ptrdiff_t(offset) * channels + c;
            stride = channels;
        }
        switch (sink.layout) {
        case Layout::floatPlanar: {
            float *out = sink.planar[c] + sinkOffset;
            for (int i = 0; i < count; ++i)
                out[i] = SampleFloat::of(source[i * stride]);
            break;
        }
        case Layout::floatInterleaved: {
            float *out = sink.interleaved + sinkOffset * channels + c;
            for (int i = 0; i < count; ++i)
                out[ptrdiff_t(i) * channels] = SampleFloat::of(source[i * stride]);
            break;
        }
        case Layout::int32Interleaved: {
            int32_t *out = sink.ints + sinkOffset * channels + c;
            for (int i = 0; i < count; ++i)
                out[ptrdiff_t(i) * channels] = SampleInt::of(source[i * stride]);
            break;
        }
        case Layout::discard:
            return;
        }
    }
}

void copyFrame(const AVFrame *frame, int channels, int offset, int count, const Sink &sink,
               int64_t sinkOffset)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return copyTyped<uint8_t>(frame, planar, channels, offset, count, sink, sinkOffset);
    case AV_SAMPLE_FMT_S16:
        return copyTyped<int16_t>(frame, planar, channels, offset, count, sink, sinkOffset);
    case AV_SAMPLE_FMT_S32:
        return copyTyped<int32_t>(frame, planar, channels, offset, count, sink, sinkOffset);
    case AV_SAMPLE_FMT_S64:
        return copyTyped<int64_t>(frame, planar, channels, offset, count, sink, sinkOffset);
    case AV_SAMPLE_FMT_FLT:
        return copyTyped<float>(frame, planar, channels, offset, count, sink, sinkOffset);
    case AV_SAMPLE_FMT_DBL:
        return copyTyped<double>(frame, planar, channels, offset, count, sink, sinkOffset);
    default:
        throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_PATCHWELCOME,
                             decodingText(), QStringLiteral("unknown sample format"));
    }
}

bool isLinearPcm(AVCodecID id, int *bits, bool *isFloat, bool *isSigned)
{
    *isFloat = false;
    *isSigned = true;
    switch (id) {
    case AV_CODEC_ID_PCM_U8: *isSigned = false; [[fallthrough]];
    case AV_CODEC_ID_PCM_S8: case AV_CODEC_ID_PCM_S8_PLANAR:
        *bits = 8; return true;
    case AV_CODEC_ID_PCM_S16LE: case AV_CODEC_ID_PCM_S16BE: case AV_CODEC_ID_PCM_S16LE_PLANAR:
    case AV_CODEC_ID_PCM_S16BE_PLANAR:
        *bits = 16; return true;
    case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S24BE: case AV_CODEC_ID_PCM_S24LE_PLANAR:
        *bits = 24; return true;
    case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_S32BE: case AV_CODEC_ID_PCM_S32LE_PLANAR:
        *bits = 32; return true;
    case AV_CODEC_ID_PCM_S64LE: case AV_CODEC_ID_PCM_S64BE:
        *bits = 64; return true;
    case AV_CODEC_ID_PCM_U16LE: case AV_CODEC_ID_PCM_U16BE:
        *isSigned = false; *bits = 16; return true;
    case AV_CODEC_ID_PCM_U24LE: case AV_CODEC_ID_PCM_U24BE:
        *isSigned = false; *bits = 24; return true;
    case AV_CODEC_ID_PCM_U32LE: case AV_CODEC_ID_PCM_U32BE:
        *isSigned = false; *bits = 32; return true;
    case AV_CODEC_ID_PCM_F32LE: case AV_CODEC_ID_PCM_F32BE:
        *isFloat = true; *isSigned = false; *bits = 32; return true;
    case AV_CODEC_ID_PCM_F64LE: case AV_CODEC_ID_PCM_F64BE:
        *isFloat = true; *isSigned = false; *bits = 64; return true;
    case AV_CODEC_ID_PCM_F16LE:
        *isFloat = true; *isSigned = false; *bits = 16; return true;
    case AV_CODEC_ID_PCM_F24LE:
        *isFloat = true; *isSigned = false; *bits = 24; return true;
    default:
        return false;
    }
}

AudioCodecKind codecKind(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_FLAC: return AudioCodecKind::flac;
    case AV_CODEC_ID_ALAC: return AudioCodecKind::alac;
    case AV_CODEC_ID_AAC: case AV_CODEC_ID_AAC_LATM: return AudioCodecKind::aac;
    case AV_CODEC_ID_MP1: return AudioCodecKind::mpegLayer1;
    case AV_CODEC_ID_MP2: return AudioCodecKind::mpegLayer2;
    case AV_CODEC_ID_MP3: return AudioCodecKind::mpegLayer3;
    case AV_CODEC_ID_AC3: return AudioCodecKind::ac3;
    case AV_CODEC_ID_EAC3: return AudioCodecKind::eac3;
    case AV_CODEC_ID_OPUS: return AudioCodecKind::opus;
    case AV_CODEC_ID_VORBIS: return AudioCodecKind::vorbis;
    default: return AudioCodecKind::other;
    }
}

} // namespace

struct AudioFileReader::Impl {
    CancellationToken token;
    FileHandle file;
    int64_t fileSize = 0;
    const AVInputFormat *inputFormat = nullptr;

    std::optional<ffmpeg::FileInput> input;
    ffmpeg::InputFormatContext demuxer;
    ffmpeg::CodecContext decoder;
    ffmpeg::Packet packet{av_packet_alloc()};
    ffmpeg::Frame frame{av_frame_alloc()};
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    int64_t dataStart = 0;

    AudioFileFormat format;
    int rate = 0;
    int channelCount = 0;
    bool seekByTimestamp = false; // timestamps are exact and seeking is supported
    bool lossless = false;
    std::optional<int64_t> exactLength; // file frames
    std::optional<int64_t> limit;       // the container's length: frames past it are padding

    int64_t originPts = AV_NOPTS_VALUE;
    bool haveFrame = false;
    int frameOffset = 0;
    bool draining = false;
    bool ended = false;
    int consecutiveErrors = 0;
    int64_t filePosition = 0;
    bool positionExact = true; // filePosition counts from the start without a gap

    std::unique_ptr<SampleRateConverter> converter;
    int64_t clientPosition = 0;
    std::vector<std::vector<float>> fileScratch;
    std::vector<std::vector<float>> clientScratch;

    [[noreturn]] void fail(int status, const QString &operation) const
    {
        if (status == AVERROR_EXIT || token.isCancelled())
            throw Cancelled();
        AudioFileError::Kind kind = AudioFileError::Kind::codec;
        if (status == AVERROR_INVALIDDATA || status == AVERROR_EOF || status == AVERROR_BUG
            || status == AVERROR_BUG2)
            kind = AudioFileError::Kind::malformed;
        else if (status == AVERROR(EIO) || status == AVERROR(ENOMEM))
            kind = AudioFileError::Kind::io;
        else if (status == AVERROR_DECODER_NOT_FOUND || status == AVERROR_PATCHWELCOME
                 || status == AVERROR_STREAM_NOT_FOUND)
            kind = AudioFileError::Kind::unsupported;
        throw AudioFileError(kind, status, operation, ffmpeg::errorString(status));
    }

    void openDemuxer()
    {
        decoder.reset();
        demuxer.reset();
        AVFormatContext *context = input->newDemuxerContext();
        if (!context)
            fail(AVERROR(ENOMEM), openingText());
        int status = avformat_open_input(&context, "", inputFormat, nullptr);
        if (status < 0) // avformat_open_input frees the context on failure
            fail(status, openingText());
        demuxer.reset(context);
        dataStart = avio_tell(context->pb);
        status = avformat_find_stream_info(context, nullptr);
        if (status < 0)
            fail(status, openingText());

        const AVCodec *codec = nullptr;
        streamIndex = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (streamIndex < 0)
            fail(streamIndex, openingText());
        for (unsigned i = 0; i < context->nb_streams; ++i)
            if (int(i) != streamIndex)
                context->streams[i]->discard = AVDISCARD_ALL;
        AVStream *stream = context->streams[streamIndex];
        timeBase = stream->time_base;
        if (timeBase.num <= 0 || timeBase.den <= 0)
            fail(AVERROR_INVALIDDATA, openingText());

        decoder.reset(avcodec_alloc_context3(codec));
        if (!decoder)
            fail(AVERROR(ENOMEM), openingText());
        status = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
        if (status < 0)
            fail(status, openingText());
        decoder->pkt_timebase = timeBase;
        // Lossless decoders that decode frames in parallel keep up with the command line on
        // two threads; every other audio decoder runs on the caller's thread.
        decoder->thread_count = (codec->capabilities & AV_CODEC_CAP_FRAME_THREADS) ? 2 : 1;
        decoder->thread_type = FF_THREAD_FRAME;
        status = avcodec_open2(decoder.get(), codec, nullptr);
        if (status < 0)
            fail(status, openingText());

        haveFrame = false;
        frameOffset = 0;
        draining = false;
        ended = false;
        consecutiveErrors = 0;
        filePosition = 0;
        positionExact = true;
    }

    void describe()
    {
        const AVStream *stream = demuxer->streams[streamIndex];
        const AVCodecParameters *parameters = stream->codecpar;
        channelCount = parameters->ch_layout.nb_channels;
        rate = parameters->sample_rate;
        if (channelCount < 1 || channelCount > maximumChannels || rate < 1
            || rate > maximumSampleRate)
            throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_INVALIDDATA,
                                 openingText(),
                                 QStringLiteral("unsupported channel count or sample rate"));

        format = {};
        format.container = ffmpeg::shortName(inputFormat);
        format.sampleRate = rate;
        format.channels = channelCount;
        int bits = 0;
        bool isFloat = false;
        bool isSigned = false;
        const AVCodecID id = parameters->codec_id;
        if (isLinearPcm(id, &bits, &isFloat, &isSigned)) {
            format.codec = AudioCodecKind::lpcm;
            format.bitsPerChannel = bits;
            format.isFloat = isFloat;
            format.isSignedInteger = isSigned;
            lossless = true;
        } else {
            format.codec = codecKind(id);
            if (format.codec == AudioCodecKind::flac) {
                format.bitsPerChannel = parameters->bits_per_raw_sample > 0
                                            ? parameters->bits_per_raw_sample
                                            : decoder->bits_per_raw_sample;
                format.isSignedInteger = true;
                lossless = true;
            } else if (format.codec == AudioCodecKind::alac) {
                format.alacSourceBitDepth = decoder->bits_per_raw_sample > 0
                                                ? decoder->bits_per_raw_sample
                                                : parameters->bits_per_raw_sample;
                lossless = true;
            }
        }

        // Where the container states the length exactly, it is also where delivery stops:
        // an MP4 edit list ends before the encoder's padding, and a PCM header never counts
        // past the bytes that are really there.
        const QString container = format.container;
        std::optional<int64_t> stated;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            stated = av_rescale_q(stream->duration, timeBase, AVRational{1, rate});
        // PCM containers only time PCM exactly; compressed data in them is found by decoding.
        const bool pcmContainer = container == u"wav" || container == u"w64"
                                  || container == u"aiff" || container == u"caf"
                                  || container == u"au";
        if (format.codec == AudioCodecKind::lpcm && pcmContainer) {
            int64_t bytesPerFrame = parameters->block_align;
            if (bytesPerFrame <= 0)
                bytesPerFrame = int64_t(channelCount) * std::max(1, bits / 8);
            const int64_t present = std::max<int64_t>(0, fileSize - dataStart) / bytesPerFrame;
            exactLength = stated ? std::min(*stated, present) : present;
        } else if (format.codec == AudioCodecKind::lpcm && container == u"mov") {
            exactLength = stated;
        } else if (format.codec == AudioCodecKind::flac && container == u"flac") {
            exactLength = stated;
        } else if (format.codec == AudioCodecKind::mpegLayer3 && container == u"mp3") {
            // A Xing/LAME header gives the trimmed length; without one only a decode knows.
            exactLength = mpegaudio::exactLength(file, ffmpeg::id3v2Length(file, 0), fileSize);
        } else if (container == u"mov"
                   && (format.codec == AudioCodecKind::aac
                       || format.codec == AudioCodecKind::alac)) {
            exactLength = stated;
        }
        limit = exactLength;
        seekByTimestamp = (pcmContainer && format.codec == AudioCodecKind::lpcm)
                          || container == u"flac" || container == u"mp3" || container == u"mov";
    }

    // The next frame with samples, or false at the end of the stream.
    bool nextFrame()
    {
        haveFrame = false;
        frameOffset = 0;
        if (ended)
            return false;
        for (;;) {
            int status = avcodec_receive_frame(decoder.get(), frame.get());
            if (status == 0) {
                if (frame->nb_samples <= 0)
                    continue;
                if (frame->ch_layout.nb_channels != channelCount)
                    throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_INVALIDDATA,
                                         decodingText(),
                                         QStringLiteral("the channel count changes"));
                if (frame->sample_rate != rate)
                    throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_INVALIDDATA,
                                         decodingText(),
                                         QStringLiteral("the sample rate changes"));
                consecutiveErrors = 0;
                haveFrame = true;
                if (originPts == AV_NOPTS_VALUE && filePosition == 0 && positionExact)
                    originPts = frame->best_effort_timestamp == AV_NOPTS_VALUE
                                    ? 0
                                    : frame->best_effort_timestamp;
                return true;
            }
            if (status == AVERROR_EOF) {
                ended = true;
                return false;
            }
            if (status != AVERROR(EAGAIN)) {
                if (status == AVERROR_INVALIDDATA && ++consecutiveErrors <= maximumConsecutiveErrors)
                    continue;
                fail(status, decodingText());
            }
            if (draining) { // a decoder that asks for more after the end
                ended = true;
                return false;
            }
            token.throwIfCancelled();
            status = av_read_frame(demuxer.get(), packet.get());
            if (status == AVERROR_EOF) {
                draining = true;
                status = avcodec_send_packet(decoder.get(), nullptr);
                if (status < 0 && status != AVERROR_EOF)
                    fail(status, decodingText());
                continue;
            }
            if (status < 0)
                fail(status, decodingText());
            if (packet->stream_index != streamIndex) {
                av_packet_unref(packet.get());
                continue;
            }
            status = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (status == AVERROR_INVALIDDATA) {
                if (++consecutiveErrors > maximumConsecutiveErrors)
                    fail(status, decodingText());
                continue;
            }
            if (status < 0 && status != AVERROR(EAGAIN))
                fail(status, decodingText());
        }
    }

    // Up to maxFrames file frames into sink at sinkOffset.
    int64_t pullFile(const Sink &sink, int64_t maxFrames, int64_t sinkOffset = 0)
    {
        int64_t done = 0;
        while (done < maxFrames) {
            if (limit && filePosition >= *limit)
                break;
            if (!haveFrame || frameOffset >= frame->nb_samples) {
                if (!nextFrame()) {
                    // A damaged stream can end before its stated length: from now on the
                    // length is what the decode delivered.
                    if (positionExact && (!exactLength || filePosition < *exactLength))
                        exactLength = filePosition;
                    break;
                }
                continue;
            }
            int64_t take = std::min<int64_t>(frame->nb_samples - frameOffset, maxFrames - done);
            if (limit)
                take = std::min(take, *limit - filePosition);
            copyFrame(frame.get(), channelCount, frameOffset, int(take), sink, sinkOffset + done);
            frameOffset += int(take);
            filePosition += take;
            done += take;
        }
        return done;
    }

    void skipFile(int64_t frames)
    {
        while (frames > 0) {
            token.throwIfCancelled();
            const int64_t n = pullFile(Sink{}, std::min<int64_t>(frames, 1 << 20));
            if (n == 0)
                return;
            frames -= n;
        }
    }

    void rewindAndSkip(int64_t target)
    {
        openDemuxer();
        skipFile(target);
    }

    void seekFile(int64_t target)
    {
        token.throwIfCancelled();
        if (exactLength)
            target = std::min(target, *exactLength);
        if (target == filePosition && positionExact)
            return;
        const int64_t preroll = lossless ? 0 : lossyPrerollFrames;
        if (target >= filePosition && target - filePosition <= std::max<int64_t>(preroll, 1 << 15)) {
            skipFile(target - filePosition);
            return;
        }
        const int64_t start = target - preroll;
        if (!seekByTimestamp || start <= 0 || originPts == AV_NOPTS_VALUE) {
            rewindAndSkip(target);
            return;
        }
        const int64_t ts = originPts + av_rescale_q(start, AVRational{1, rate}, timeBase);
        if (av_seek_frame(demuxer.get(), streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) {
            token.throwIfCancelled();
            rewindAndSkip(target);
            return;
        }
        avcodec_flush_buffers(decoder.get());
        draining = false;
        ended = false;
        consecutiveErrors = 0;
        positionExact = false;
        if (!nextFrame() || frame->best_effort_timestamp == AV_NOPTS_VALUE) {
            rewindAndSkip(target);
            return;
        }
        const int64_t frameStart = av_rescale_q_rnd(frame->best_effort_timestamp - originPts,
                                                    timeBase, AVRational{1, rate},
                                                    AV_ROUND_NEAR_INF);
        if (frameStart > target || frameStart < 0) {
            rewindAndSkip(target);
            return;
        }
        filePosition = frameStart;
        positionExact = true;
        skipFile(target - frameStart);
    }

    int64_t countLength()
    {
        const int64_t resume = converter ? clientPosition : filePosition;
        openDemuxer();
        skipFile(std::numeric_limits<int64_t>::max());
        if (!exactLength)
            exactLength = filePosition;
        seekProcessing(resume);
        return *exactLength;
    }

    // Client-rate seek: start the converter on a frame where both rates meet exactly.
    void seekProcessing(int64_t target)
    {
        if (!converter) {
            seekFile(target);
            return;
        }
        if (exactLength)
            target = std::min(target, converter->outputFramesFor(*exactLength));
        const int64_t g = std::gcd(converter->inputRate(), converter->outputRate());
        const int64_t stepIn = converter->inputRate() / g;
        const int64_t stepOut = converter->outputRate() / g;
        const int64_t blocks = std::max<int64_t>(0, target - converterPrerollFrames) / stepOut;
        seekFile(blocks * stepIn);
        converter->reset();
        clientPosition = blocks * stepOut;
        Sink none;
        pullProcessing(none, target - clientPosition);
    }

    int64_t pullProcessing(const Sink &sink, int64_t maxFrames)
    {
        token.throwIfCancelled();
        if (maxFrames <= 0)
            return 0;
        if (!converter) {
            return pullFile(sink, maxFrames);
        }
        const size_t block = size_t(AudioFileReader::defaultBlockFrames);
        if (fileScratch.empty()) {
            fileScratch.assign(size_t(channelCount), std::vector<float>(block));
            clientScratch.assign(size_t(channelCount), std::vector<float>(block));
        }
        std::vector<float *> in(static_cast<size_t>(channelCount));
        std::vector<float *> out(static_cast<size_t>(channelCount));
        for (int c = 0; c < channelCount; ++c) {
            in[size_t(c)] = fileScratch[size_t(c)].data();
            out[size_t(c)] = clientScratch[size_t(c)].data();
        }
        int64_t done = 0;
        while (done < maxFrames) {
            if (converter->available() == 0) {
                if (converter->isFinished())
                    break;
                token.throwIfCancelled();
                Sink scratch{Layout::floatPlanar, in.data(), nullptr, nullptr};
                const int64_t n = pullFile(scratch, int64_t(block));
                if (n == 0)
                    converter->finish();
                else
                    converter->push(in.data(), n);
                continue;
            }
            const int64_t n = converter->take(out.data(), std::min<int64_t>(maxFrames - done, int64_t(block)));
            if (sink.layout != Layout::discard) {
                for (int c = 0; c < channelCount; ++c) {
                    const float *src = out[size_t(c)];
                    for (int64_t i = 0; i < n; ++i) {
                        const int64_t at = done + i;
                        switch (sink.layout) {
                        case Layout::floatPlanar: sink.planar[c][at] = src[i]; break;
                        case Layout::floatInterleaved: sink.interleaved[at * channelCount + c] = src[i]; break;
                        case Layout::int32Interleaved: sink.ints[at * channelCount + c] = pcm::floatToInt(src[i], 32); break;
                        case Layout::discard: break;
                        }
                    }
                }
            }
            done += n;
            clientPosition += n;
        }
        return done;
    }
};

AudioFileReader::AudioFileReader(const QString &path, CancellationToken token)
    : impl_(std::make_unique<Impl>())
{
    Impl &d = *impl_;
    d.token = std::move(token);
    d.token.throwIfCancelled();
    if (!d.packet || !d.frame)
        throw AudioFileError(AudioFileError::Kind::io, AVERROR(ENOMEM), openingText());
    d.file = FileHandle::open(path, O_RDONLY);
    const struct stat status = d.file.status();
    if (!S_ISREG(status.st_mode))
        throw AudioFileError(AudioFileError::Kind::notAudio, AVERROR_INVALIDDATA, openingText(),
                             QStringLiteral("not a regular file"));
    d.fileSize = status.st_size;
    d.input.emplace(d.file.fd(), d.fileSize, d.token);
    ffmpeg::silenceLog();
    d.inputFormat = ffmpeg::probeInputFormat(d.file);
    if (!d.inputFormat)
        throw AudioFileError(AudioFileError::Kind::notAudio, AVERROR_INVALIDDATA, openingText(),
                             QStringLiteral("the content is not a recognised audio stream"));
    d.openDemuxer();
    d.describe();
    // The first frame fixes the timestamp of frame 0 and shows early that the stream decodes.
    d.nextFrame();
}

AudioFileReader::~AudioFileReader() = default;
AudioFileReader::AudioFileReader(AudioFileReader &&) noexcept = default;
AudioFileReader &AudioFileReader::operator=(AudioFileReader &&) noexcept = default;

const AudioFileFormat &AudioFileReader::fileFormat() const { return impl_->format; }
int AudioFileReader::channels() const { return impl_->channelCount; }
double AudioFileReader::fileSampleRate() const { return impl_->rate; }

void AudioFileReader::setClientSampleRate(std::optional<double> rate)
{
    Impl &d = *impl_;
    if (rate && (!std::isfinite(*rate) || *rate < 1 || *rate > maximumSampleRate
                 || *rate != std::floor(*rate)))
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Setting the client sample rate"),
                             QStringLiteral("the rate must be a whole number of hertz"));
    if (rate && int(*rate) != d.rate)
        d.converter = std::make_unique<SampleRateConverter>(d.channelCount, d.rate, int(*rate));
    else
        d.converter.reset();
    d.clientPosition = 0;
    d.seekFile(0);
}

double AudioFileReader::processingSampleRate() const
{
    return impl_->converter ? impl_->converter->outputRate() : impl_->rate;
}

int64_t AudioFileReader::length()
{
    Impl &d = *impl_;
    if (d.exactLength)
        return *d.exactLength;
    return d.countLength();
}

int64_t AudioFileReader::processingLength()
{
    const int64_t frames = length();
    return impl_->converter ? impl_->converter->outputFramesFor(frames) : frames;
}

int64_t AudioFileReader::position() const
{
    return impl_->converter ? impl_->clientPosition : impl_->filePosition;
}

void AudioFileReader::seek(int64_t frame)
{
    if (frame < 0)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Seeking in the audio file"));
    impl_->seekProcessing(frame);
}

int64_t AudioFileReader::readFloatPlanar(float *const *channels, int64_t maxFrames)
{
    return impl_->pullProcessing(Sink{Layout::floatPlanar, channels, nullptr, nullptr}, maxFrames);
}

int64_t AudioFileReader::readFloatInterleaved(float *frames, int64_t maxFrames)
{
    return impl_->pullProcessing(Sink{Layout::floatInterleaved, nullptr, frames, nullptr},
                                 maxFrames);
}

int64_t AudioFileReader::readInt32Interleaved(int32_t *frames, int64_t maxFrames)
{
    return impl_->pullProcessing(Sink{Layout::int32Interleaved, nullptr, nullptr, frames},
                                 maxFrames);
}

void AudioFileReader::setCancellationToken(CancellationToken token)
{
    impl_->token = std::move(token);
}

} // namespace tampod
