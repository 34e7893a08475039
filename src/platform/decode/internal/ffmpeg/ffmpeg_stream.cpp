#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"

#include <cstring>

namespace tampod {

namespace {

// The bytes the demuxer sees: a raw coded stream ends where its frames end (a header's count
// or a walk tells), so neither the demuxer nor the decoder takes what follows for audio.
rawstream::End audioBytes(const FileHandle &file, const AVInputFormat *input, const containerheader::Header *header)
{
    if (header && header->description && header->description->audioEnd)
        return {*header->description->audioEnd, std::nullopt, std::nullopt};
    const int64_t size = file.size();
    if (!rawstream::isRaw(input->name))
        return {size, std::nullopt, std::nullopt};
    return LengthCache::shared().audioEnd(file, input->name, ffmpeg::id3v2Length(file, 0), size);
}

// Where the tags before an MP3 or FLAC stream state a size a few bytes off its first frame or
// marker, where the demuxer is to begin reading (it would miss the frame's Info header, or the
// stream's header); 0 where it finds it.
int64_t misstatedTagEnd(const FileHandle &file, const AVInputFormat *input)
{
    if (std::strcmp(input->name, "mp3") != 0 && std::strcmp(input->name, "flac") != 0)
        return 0;
    const int64_t start = ffmpeg::id3v2Length(file, 0);
    return start != ffmpeg::statedId3v2Length(file, 0) ? start : 0;
}

} // namespace

FfmpegStream::FfmpegStream(const FileHandle &file, const AVInputFormat *input, CancellationToken token,
                           DemuxerOptions demuxerOptions, bool glance, const containerheader::Header *header)
    : token_(std::move(token)), file_(file),
      // Where the pages were read, the demuxer sees none of the bytes after the last (a tag).
      audioEnd_(header && header->ogg ? rawstream::End{header->ogg->dataEnd, std::nullopt, std::nullopt}
                                      : audioBytes(file, input, header)),
      fileSize_(audioEnd_.end),
      inputFormat_(input),
      demuxerOptions_(std::move(demuxerOptions)), glance_(glance), input_(file.fd(), fileSize_, token_),
      described_(header ? header->description : std::nullopt),
      parametersInHeader_(header && header->parametersInHeader), firstFrame_(misstatedTagEnd(file, input))
{
    if (!packet_ || !frame_)
        throw AudioFileError(AudioFileError::Kind::io, AVERROR(ENOMEM), openingText());
    if (header && header->ogg && described_ && described_->exactLength)
        followOggPages(*header->ogg);
    openDemuxer();
    description_ = described_ ? *described_
                              : ffmpeg::describeStream(*demuxer_, streamIndex_, *decoder_, file_,
                                                       fileSize_, dataStart_, audioEnd_);
    limit_ = description_.exactLength;
    containerCounts_ = limit_.has_value();
    // MP3 files whose timestamps a seek cannot trust (joined, cut) seek by the frames read.
    if (!description_.seekByTimestamp && std::strcmp(inputFormat_->name, "mp3") == 0)
        frameIndex_ = std::make_unique<FramePositionIndex>();
    if (const auto &info = description_.infoHeader; info && limit_) {
        timeline_ = std::make_unique<Layer3Timeline>(info->samplesPerFrame, info->frames, info->frameBytes);
        keepNoTimestampIndex();
    }
    // The first frame fixes the timestamp of frame 0 and shows early that the stream decodes.
    nextFrame();
    opened_ = true;
}

void FfmpegStream::fail(int status, const QString &operation) const
{
    if (status == AVERROR_EXIT || token_.isCancelled())
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

void FfmpegStream::openDemuxer()
{
    if (oggPages_)
        oggPages_->stop();
    av_packet_unref(packet_.get());
    decoder_.reset();
    demuxer_.reset();
    AVFormatContext *context = input_.newDemuxerContext();
    if (!context)
        fail(AVERROR(ENOMEM), openingText());
    // Demuxers that would open further files find no protocol to do it with.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    for (const auto &[key, value] : demuxerOptions_)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    if (firstFrame_ > 0)
        av_dict_set_int(&options, "skip_initial_bytes", firstFrame_, 0);
    // The Ogg demuxer scans the file's last pages for a length; where ours already read them,
    // it opens as on a stream that cannot seek, and seeks afterwards as usual.
    AVIOContext *io = context->pb;
    const bool lengthKnown = described_ && described_->exactLength && std::strcmp(inputFormat_->name, "ogg") == 0;
    const int seekable = io->seekable;
    if (lengthKnown)
        io->seekable = 0;
    int status = avformat_open_input(&context, "", inputFormat_, &options);
    io->seekable = seekable;
    av_dict_free(&options);
    if (status < 0) { // avformat_open_input frees the context on failure
        checkReads(openingText());
        fail(status, openingText());
    }
    demuxer_.reset(context);
    keepNoTimestampIndex();
    checkReads(openingText());
    dataStart_ = avio_tell(context->pb);
    // Saves the tag reader a second open of the same demuxer: both read only the header here.
    if (glance_ && parametersInHeader_ && !tags_ && fileSize_ == file_.size() && firstFrame_ == 0)
        tags_ = ffmpeg::tagsOf(*context);
    if (!parametersInHeader_) {
        status = avformat_find_stream_info(context, nullptr);
        checkReads(openingText());
        if (status < 0)
            fail(status, openingText());
    } else {
        trustHeaderParameters(*context);
    }

    codec_ = nullptr;
    streamIndex_ = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec_, 0);
    if (streamIndex_ < 0)
        fail(streamIndex_, openingText());
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (int(i) != streamIndex_)
            context->streams[i]->discard = AVDISCARD_ALL;
    AVStream *stream = context->streams[streamIndex_];
    timeBase_ = stream->time_base;
    if (timeBase_.num <= 0 || timeBase_.den <= 0)
        fail(AVERROR_INVALIDDATA, openingText());

    openDecoder(nullptr);
    haveFrame_ = false;
    frameOffset_ = 0;
    draining_ = false;
    ended_ = false;
    consecutiveErrors_ = 0;
    lastFrameError_ = 0;
    silence_ = 0;
    sentDuration_ = 0;
    sentSinceFrame_ = 0;
    trimmedSinceFrame_ = false;
    decodedAny_ = false;
    filePosition_ = 0;
    positionExact_ = true;
    link_ = 0;
    linkEnding_ = packetHeld_ = linkHeaders_ = false;
    restartedByIndex_ = false;
    owed_ = 0;
    onTimeline_ = false;
    run_ = {};
    wholeSent_ = 0;
    frameOrder_.reset(); // a count that failed midway
    readOrder_.reset();
}

// A decoder of the stream, opened with the given headers in place of the demuxer's.
void FfmpegStream::openDecoder(const QByteArray *extradata)
{
    decoder_.reset(avcodec_alloc_context3(codec_));
    if (!decoder_)
        fail(AVERROR(ENOMEM), openingText());
    int status = avcodec_parameters_to_context(decoder_.get(),
                                               demuxer_->streams[streamIndex_]->codecpar);
    if (status < 0)
        fail(status, openingText());
    oggDurations_.reset();
    if (extradata) {
        av_freep(&decoder_->extradata);
        decoder_->extradata_size = 0;
        decoder_->extradata = static_cast<uint8_t *>(av_mallocz(size_t(extradata->size())
                                                                + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!decoder_->extradata)
            fail(AVERROR(ENOMEM), openingText());
        std::memcpy(decoder_->extradata, extradata->constData(), size_t(extradata->size()));
        decoder_->extradata_size = int(extradata->size());
    }
    decoder_->pkt_timebase = timeBase_;
    // Lossless decoders that decode frames in parallel keep up with the command line on two
    // threads; every other audio decoder, and any decoder asked for a few frames only, runs on
    // the caller's thread.
    const bool parallel = (codec_->capabilities & AV_CODEC_CAP_FRAME_THREADS) && !glance_;
    decoder_->thread_count = parallel ? 2 : 1;
    decoder_->thread_type = FF_THREAD_FRAME;
    status = avcodec_open2(decoder_.get(), codec_, nullptr);
    if (status < 0)
        fail(status, openingText());
}

// Without the stream-information pass only the header's parameters are known: the one audio
// stream must have them all, else the full pass decides.
void FfmpegStream::trustHeaderParameters(AVFormatContext &context)
{
    AVStream *audio = nullptr;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        if (context.streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (audio)
            fail(AVERROR_PATCHWELCOME, openingText());
        audio = context.streams[i];
    }
    if (!audio)
        fail(AVERROR_STREAM_NOT_FOUND, openingText());
    AVCodecParameters &parameters = *audio->codecpar;
    if (described_) {
        // A header read of ours that the demuxer contradicts is not trusted for the decode.
        if ((parameters.sample_rate > 0 && parameters.sample_rate != int(described_->format.sampleRate))
            || (parameters.ch_layout.nb_channels > 0 && parameters.ch_layout.nb_channels != described_->format.channels))
            fail(AVERROR_INVALIDDATA, openingText());
        if (parameters.sample_rate <= 0)
            parameters.sample_rate = int(described_->format.sampleRate);
        if (parameters.ch_layout.nb_channels <= 0)
            av_channel_layout_default(&parameters.ch_layout, described_->format.channels);
    }
    if (parameters.codec_id == AV_CODEC_ID_NONE || parameters.sample_rate <= 0
        || parameters.ch_layout.nb_channels <= 0)
        fail(AVERROR_INVALIDDATA, openingText());
}

} // namespace tampod
