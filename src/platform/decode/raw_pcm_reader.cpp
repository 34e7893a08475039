#include "platform/decode/raw_pcm_reader.h"

#include "core/file_handle.h"
#include "core/number_text.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/ffmpeg_file_input.h"
#include "platform/internal/ffmpeg_owners.h"

namespace tampod::RawPCMReader {

namespace {

const QString readingText = QStringLiteral("Reading raw PCM");

[[noreturn]] void fail(int status)
{
    throw AudioFileError(AudioFileError::Kind::io, status, readingText, ffmpeg::errorString(status));
}

} // namespace

Description read(const QString &path, int sampleRate, int channels, int bits, const CancellationToken &token)
{
    const char *demuxer = bits == 8 ? "s8" : bits == 16 ? "s16be" : bits == 24 ? "s24be" : bits == 32 ? "s32be" : nullptr;
    if (!demuxer || channels < 1 || channels > 2 || sampleRate < 1)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), readingText);
    ffmpeg::silenceLog();
    const FileHandle file = FileHandle::openOutside(path);
    ffmpeg::FileInput input(file.fd(), file.size(), token);
    AVFormatContext *context = input.newDemuxerContext();
    if (!context)
        fail(AVERROR(ENOMEM));
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    av_dict_set(&options, "sample_rate", NumberText::whole(sampleRate).c_str(), 0);
    av_dict_set(&options, "ch_layout", channels == 1 ? "mono" : "stereo", 0);
    int status = avformat_open_input(&context, "", av_find_input_format(demuxer), &options);
    av_dict_free(&options);
    if (status < 0) // avformat_open_input frees the context on failure
        fail(status);
    ffmpeg::InputFormatContext demuxing(context);
    if (context->nb_streams != 1)
        fail(AVERROR_INVALIDDATA);
    const AVCodecParameters *parameters = context->streams[0]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    ffmpeg::CodecContext decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder)
        fail(AVERROR_DECODER_NOT_FOUND);
    status = avcodec_parameters_to_context(decoder.get(), parameters);
    if (status >= 0)
        status = avcodec_open2(decoder.get(), codec, nullptr);
    if (status < 0)
        fail(status);

    Description description;
    description.sampleRate = decoder->sample_rate;
    description.channels = decoder->ch_layout.nb_channels;
    description.bitsPerSample = av_get_bits_per_sample(parameters->codec_id);
    ffmpeg::Packet packet(av_packet_alloc());
    ffmpeg::Frame frame(av_frame_alloc());
    if (!packet || !frame)
        fail(AVERROR(ENOMEM));
    const auto drain = [&] {
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), frame.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            if (received < 0)
                fail(received);
            description.frames += frame->nb_samples;
        }
    };
    for (;;) {
        token.throwIfCancelled();
        status = av_read_frame(context, packet.get());
        if (status == AVERROR_EOF)
            break;
        if (status < 0)
            fail(status);
        status = avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        if (status < 0)
            fail(status);
        drain();
    }
    status = avcodec_send_packet(decoder.get(), nullptr);
    if (status < 0)
        fail(status);
    drain();
    return description;
}

} // namespace tampod::RawPCMReader
