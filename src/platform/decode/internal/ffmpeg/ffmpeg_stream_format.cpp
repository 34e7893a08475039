#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"

#include "platform/audio_file_error.h"
#include "platform/decode/internal/decoded_stream.h"
#include "platform/decode/internal/decode_limits.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>

namespace tampod::ffmpeg {

namespace {

struct PcmCoding {
    int bits = 0;
    bool isFloat = false;
    bool isSigned = true;
};

std::optional<PcmCoding> linearPcm(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_U8: return PcmCoding{8, false, false};
    case AV_CODEC_ID_PCM_S8: case AV_CODEC_ID_PCM_S8_PLANAR: return PcmCoding{8};
    case AV_CODEC_ID_PCM_S16LE: case AV_CODEC_ID_PCM_S16BE: case AV_CODEC_ID_PCM_S16LE_PLANAR:
    case AV_CODEC_ID_PCM_S16BE_PLANAR:
        return PcmCoding{16};
    case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S24BE: case AV_CODEC_ID_PCM_S24LE_PLANAR:
        return PcmCoding{24};
    case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_S32BE: case AV_CODEC_ID_PCM_S32LE_PLANAR:
        return PcmCoding{32};
    case AV_CODEC_ID_PCM_S64LE: case AV_CODEC_ID_PCM_S64BE: return PcmCoding{64};
    case AV_CODEC_ID_PCM_U16LE: case AV_CODEC_ID_PCM_U16BE: return PcmCoding{16, false, false};
    case AV_CODEC_ID_PCM_U24LE: case AV_CODEC_ID_PCM_U24BE: return PcmCoding{24, false, false};
    case AV_CODEC_ID_PCM_U32LE: case AV_CODEC_ID_PCM_U32BE: return PcmCoding{32, false, false};
    case AV_CODEC_ID_PCM_F32LE: case AV_CODEC_ID_PCM_F32BE: return PcmCoding{32, true, false};
    case AV_CODEC_ID_PCM_F64LE: case AV_CODEC_ID_PCM_F64BE: return PcmCoding{64, true, false};
    case AV_CODEC_ID_PCM_F16LE: return PcmCoding{16, true, false};
    case AV_CODEC_ID_PCM_F24LE: return PcmCoding{24, true, false};
    default: return std::nullopt;
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

// A raw AAC, AC-3 or MP3 stream whose frame headers, walked to the end of the file, count what
// the decode delivers; nullopt where they do not (for AAC, a decoder rate other than the
// headers' means SBR, whose first frame no header walk can vouch for).
std::optional<int64_t> walkedLength(AudioCodecKind codec, const QString &container, const FileHandle &file,
                                    int64_t fileSize, int rate, int channels,
                                    const std::optional<codedframes::Walk> &walked)
{
    const bool adts = codec == AudioCodecKind::aac && container == u"aac";
    const bool ac3 = (codec == AudioCodecKind::ac3 && container == u"ac3")
                     || (codec == AudioCodecKind::eac3 && container == u"eac3");
    const bool mp3 = codec == AudioCodecKind::mpegLayer3 && container == u"mp3";
    if (!adts && !ac3 && !mp3)
        return std::nullopt;
    // The walk that found where the audio ends has counted its frames already.
    std::optional<codedframes::Walk> walk = walked;
    if (!walk) {
        const int64_t start = id3v2Length(file, 0);
        walk = adts ? codedframes::adts(file, start, fileSize)
             : ac3  ? codedframes::ac3(file, start, fileSize, codec == AudioCodecKind::eac3)
                    : codedframes::mpegLayer3(file, start, fileSize);
    }
    if (!walk || walk->sampleRate != rate || walk->channels != channels)
        return std::nullopt;
    return walk->samples;
}

// An MP4 sample table says where each sample lies: where the file was cut, the samples whose
// bytes do not all lie inside it are not there, and the stream ends where the first of them
// would begin (the demuxer's index times samples from the edit's start, as the decode does).
// nullopt where every sample is there.
std::optional<int64_t> mp4FramesPresent(AVStream &stream, int64_t fileSize, int rate)
{
    const int entries = avformat_index_get_entries_count(&stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(&stream, i);
        if (entry && entry->pos >= 0 && entry->pos + entry->size <= fileSize)
            continue;
        if (!entry || entry->timestamp == AV_NOPTS_VALUE)
            return 0;
        return std::max<int64_t>(0, av_rescale_q(entry->timestamp, stream.time_base, AVRational{1, rate}));
    }
    return std::nullopt;
}

} // namespace

StreamDescription describeStream(const AVFormatContext &demuxer, int streamIndex,
                                 const AVCodecContext &decoder, const FileHandle &file,
                                 int64_t fileSize, int64_t dataStart, const rawstream::End &audioEnd)
{
    AVStream *stream = demuxer.streams[streamIndex];
    const AVCodecParameters *parameters = stream->codecpar;
    const int channels = parameters->ch_layout.nb_channels;
    const int rate = parameters->sample_rate;
    if (channels < 1 || channels > decodelimits::maximumChannels || rate < 1
        || rate > decodelimits::maximumSampleRate)
        throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_INVALIDDATA, openingText(),
                             QStringLiteral("unsupported channel count or sample rate"));

    StreamDescription d;
    AudioFileFormat &format = d.format;
    format.container = shortName(demuxer.iformat);
    format.sampleRate = rate;
    format.channels = channels;
    const std::optional<PcmCoding> pcm = linearPcm(parameters->codec_id);
    if (pcm) {
        format.codec = AudioCodecKind::lpcm;
        format.bitsPerChannel = pcm->bits;
        format.isFloat = pcm->isFloat;
        format.isSignedInteger = pcm->isSigned && !pcm->isFloat;
        d.lossless = true;
    } else {
        format.codec = codecKind(parameters->codec_id);
        if (format.codec == AudioCodecKind::flac) {
            format.bitsPerChannel = parameters->bits_per_raw_sample > 0
                                        ? parameters->bits_per_raw_sample
                                        : decoder.bits_per_raw_sample;
            format.isSignedInteger = true;
            d.lossless = true;
        } else if (format.codec == AudioCodecKind::alac) {
            format.alacSourceBitDepth = decoder.bits_per_raw_sample > 0
                                            ? decoder.bits_per_raw_sample
                                            : parameters->bits_per_raw_sample;
            d.lossless = true;
        }
    }

    // Where the container states the length exactly, it is also where delivery stops: an MP4
    // edit list ends before the encoder's padding, and a PCM header never counts past the
    // bytes that are really there.
    const QString &container = format.container;
    std::optional<int64_t> stated;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        stated = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    // PCM containers only time PCM exactly; compressed data in them is found by decoding.
    const bool pcmContainer = container == u"wav" || container == u"w64" || container == u"aiff"
                              || container == u"caf" || container == u"au";
    // Companded samples take one byte a channel: the WAV demuxer stops at the stated data as
    // for PCM, the AU demuxer reads them to the end of the file. (CAF states its data size to
    // the demuxer alone, so a decode counts those.)
    const bool companded = parameters->codec_id == AV_CODEC_ID_PCM_MULAW || parameters->codec_id == AV_CODEC_ID_PCM_ALAW;
    if ((pcm && pcmContainer) || (companded && (container == u"wav" || container == u"au"))) {
        int64_t bytesPerFrame = parameters->block_align;
        if (bytesPerFrame <= 0)
            bytesPerFrame = int64_t(channels) * (pcm ? std::max(1, pcm->bits / 8) : 1);
        const int64_t present = std::max<int64_t>(0, fileSize - dataStart) / bytesPerFrame;
        d.exactLength = stated && !(companded && container == u"au") ? std::min(*stated, present) : present;
    } else if (format.codec == AudioCodecKind::mpegLayer3 && container == u"mp3") {
        // A Xing/LAME header the frames bear out gives the trimmed length; without one, the
        // frames walked to the end.
        if (audioEnd.trimmed) {
            d.exactLength = audioEnd.trimmed->length;
            d.infoHeader = audioEnd.trimmed;
        }
        if (!d.exactLength)
            d.exactLength = walkedLength(format.codec, container, file, fileSize, rate, channels, audioEnd.walk);
    } else if (container == u"aac" || container == u"ac3" || container == u"eac3") {
        d.exactLength = walkedLength(format.codec, container, file, fileSize, rate, channels, audioEnd.walk);
    } else if (format.codec == AudioCodecKind::flac && container == u"flac") {
        // A FLAC header's count holds only where the last frame ends on it; the stream holds it
        // from its first frame's number on.
        const int64_t start = id3v2Length(file, 0);
        const flaclength::Proof proof =
            stated ? LengthCache::shared().flacProof(file, start, trailingtags::audioEnd(file, start, fileSize))
                   : flaclength::Proof{};
        if (proof.total && *proof.total + proof.firstSample == stated)
            d.exactLength = proof.total;
    } else if ((container == u"mov"
                   && (pcm || format.codec == AudioCodecKind::aac
                       || format.codec == AudioCodecKind::alac))) {
        d.exactLength = stated;
        if (const auto present = mp4FramesPresent(*stream, fileSize, rate); present && stated)
            d.exactLength = std::min(*stated, *present);
    }
    // An MP3 stream whose frames were not all walked (joined files, a cut, a damaged frame
    // header) has timestamps that leave out the frames the demuxer drops: a seek goes by the
    // frames a decode from the start found.
    const bool framesWalked = container == u"mp3" && d.exactLength;
    d.seekByTimestamp = (pcmContainer && pcm) || container == u"flac" || framesWalked || container == u"mov";
    return d;
}

} // namespace tampod::ffmpeg
