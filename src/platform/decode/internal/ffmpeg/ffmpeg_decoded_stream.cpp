#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_file_input.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"
#include "platform/decode/internal/mpeg/frame_position_index.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"
#include "platform/decode/internal/ogg/ogg_packet_duration.h"
#include "platform/decode/internal/ogg/ogg_page_seeker.h"
#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace tampod {

namespace {

// Frames decoded and dropped before a seek target of a lossy stream, so the decoder's
// overlap and bit reservoir are filled as they are in a read from the start.
constexpr int64_t lossyPrerollFrames = 16384;
// Rejected packets in a row before a stream counts as damaged rather than glitched.
constexpr int maximumConsecutiveErrors = 64;

// A decoder's verdict on one frame's data: invalid data, a feature it lacks (what damaged AAC
// data looks like to it), or a code of the decoder's own (the AC-3 decoder's sync error, say),
// which FFmpeg's table of errors does not name. Errors of the system (memory, input) and FFmpeg's
// other named ones stay fatal.
bool isFrameError(int status)
{
    char text[AV_ERROR_MAX_STRING_SIZE];
    return status == AVERROR_INVALIDDATA || status == AVERROR_PATCHWELCOME
           || (status < 0 && av_strerror(status, text, sizeof text) < 0);
}

// The bytes the demuxer sees: a raw coded stream ends where its frames end (a header's count
// or a walk tells), so neither the demuxer nor the decoder takes what follows for audio.
int64_t audioBytes(const FileHandle &file, const AVInputFormat *input, const containerheader::Header *header)
{
    if (header && header->description && header->description->audioEnd)
        return *header->description->audioEnd;
    const int64_t size = file.size();
    if (!rawstream::isRaw(input->name))
        return size;
    return rawstream::audioEnd(file, input->name, ffmpeg::id3v2Length(file, 0), size);
}

// Where the tags before an MP3 stream state a size a few bytes off its first frame, where the
// demuxer is to begin reading (it would miss the frame's Info header); 0 where it finds it.
int64_t misstatedTagEnd(const FileHandle &file, const AVInputFormat *input)
{
    if (std::strcmp(input->name, "mp3") != 0)
        return 0;
    const int64_t start = ffmpeg::id3v2Length(file, 0);
    return start != ffmpeg::statedId3v2Length(file, 0) ? start : 0;
}

void deliverSilence(int64_t count, const SampleSink &sink)
{
    if (sink.layout == SampleSink::Layout::discard)
        return;
    constexpr int64_t chunk = 1024;
    const std::vector<float> zeros(size_t(chunk * sink.channels));
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(chunk, count - done);
        deliverInterleaved(zeros.data(), n, sink.at(done));
        done += n;
    }
}

template <typename T>
void deliverFrame(const AVFrame *frame, bool planar, int offset, int64_t count, const SampleSink &sink)
{
    if (!planar)
        return deliverInterleaved(reinterpret_cast<const T *>(frame->extended_data[0])
                                      + ptrdiff_t(offset) * sink.channels,
                                  count, sink);
    for (int c = 0; c < sink.channels; ++c)
        deliverChannel(reinterpret_cast<const T *>(frame->extended_data[c]) + offset, c, count, sink);
}

void deliverFrame(const AVFrame *frame, int offset, int64_t count, const SampleSink &sink)
{
    if (sink.layout == SampleSink::Layout::discard)
        return;
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: return deliverFrame<uint8_t>(frame, planar, offset, count, sink);
    case AV_SAMPLE_FMT_S16: return deliverFrame<int16_t>(frame, planar, offset, count, sink);
    case AV_SAMPLE_FMT_S32: return deliverFrame<int32_t>(frame, planar, offset, count, sink);
    case AV_SAMPLE_FMT_S64: return deliverFrame<int64_t>(frame, planar, offset, count, sink);
    case AV_SAMPLE_FMT_FLT: return deliverFrame<float>(frame, planar, offset, count, sink);
    case AV_SAMPLE_FMT_DBL: return deliverFrame<double>(frame, planar, offset, count, sink);
    default:
        throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_PATCHWELCOME,
                             decodingText(), QStringLiteral("unknown sample format"));
    }
}

class FfmpegStream final : public DecodedStream {
public:
    FfmpegStream(const FileHandle &file, const AVInputFormat *input, CancellationToken token,
                 DemuxerOptions demuxerOptions, bool glance, const containerheader::Header *header = nullptr)
        : token_(std::move(token)), file_(file),
          // Where the pages were read, the demuxer sees none of the bytes after the last (a tag).
          fileSize_(header && header->ogg ? header->ogg->dataEnd : audioBytes(file, input, header)),
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
                                                           fileSize_, dataStart_);
        limit_ = description_.exactLength;
        containerCounts_ = limit_.has_value();
        // MP3 files whose timestamps a seek cannot trust (joined, cut) seek by the frames read.
        if (!description_.seekByTimestamp && std::strcmp(inputFormat_->name, "mp3") == 0)
            frameIndex_ = std::make_unique<FramePositionIndex>();
        // The first frame fixes the timestamp of frame 0 and shows early that the stream decodes.
        nextFrame();
    }

    const AudioFileFormat &format() const override { return description_.format; }
    std::optional<int64_t> knownLength() const override { return description_.exactLength; }
    int64_t position() const override { return filePosition_; }

    int64_t countLength() override
    {
        refuseChangingLinks();
        openDemuxer();
        skip(std::numeric_limits<int64_t>::max());
        if (!description_.exactLength)
            description_.exactLength = filePosition_;
        return *description_.exactLength;
    }

    void seek(int64_t target) override;
    int64_t read(const SampleSink &sink, int64_t maxFrames) override;

    void setCancellationToken(CancellationToken token) override
    {
        token_ = token;
        input_.setCancellationToken(std::move(token));
    }

    std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags() const override { return tags_; }

private:
    [[noreturn]] void fail(int status, const QString &operation) const;
    void checkReads(const QString &operation) const;
    void refuseChangingLinks();
    void followOggPages(const oggaudio::Described &described);
    void trimOggEnd();
    int64_t linkEnd() const
    {
        return link_ < linkEnds_.size() ? linkEnds_[link_] : std::numeric_limits<int64_t>::max();
    }
    void openDemuxer();
    void trustHeaderParameters(AVFormatContext &context);
    void openDecoder(const QByteArray *extradata);
    bool entersNextLink() const;
    bool isLinkHeader() const;
    void beginNextLink();
    bool nextFrame();
    void keepMissingFramesPlace();
    enum class PacketTaken { send, none, ended };
    PacketTaken takePacket();
    bool drainDecoder();
    int readPacket();
    bool seekByPages(int64_t target);
    void noteFrame();
    bool seekByFrameIndex(int64_t target, int64_t preroll);
    bool survive(int status, int64_t rejectedDuration);
    bool endOfStream();
    bool endAfterDamage(int status);
    void skip(int64_t frames);
    void rewindAndSkip(int64_t target)
    {
        openDemuxer();
        skip(target);
    }
    int rate() const { return int(description_.format.sampleRate); }

    CancellationToken token_;
    const FileHandle &file_;
    const int64_t fileSize_;
    const AVInputFormat *inputFormat_;
    const DemuxerOptions demuxerOptions_;
    const bool glance_;
    ffmpeg::FileInput input_;
    ffmpeg::InputFormatContext demuxer_;
    ffmpeg::CodecContext decoder_;
    const AVCodec *codec_ = nullptr;
    ffmpeg::Packet packet_{av_packet_alloc()};
    ffmpeg::Frame frame_{av_frame_alloc()};
    int streamIndex_ = -1;
    AVRational timeBase_{1, 1};
    int64_t dataStart_ = 0;
    ffmpeg::StreamDescription description_;
    const std::optional<ffmpeg::StreamDescription> described_; // the header's, trusted
    const bool parametersInHeader_;
    const int64_t firstFrame_; // where the demuxer begins, where not at the file's start
    std::optional<int64_t> limit_; // the container's length: frames past it are padding
    // The container counted the frames (headers, pages, a walk), rejected ones too, so those keep
    // their place as silence; where the decode counts, they are not counted.
    bool containerCounts_ = false;
    std::optional<QList<QList<MediaTagReader::Tag>>> tags_;

    int64_t originPts_ = AV_NOPTS_VALUE;
    bool haveFrame_ = false;
    int frameOffset_ = 0;
    bool draining_ = false;
    bool ended_ = false;
    int consecutiveErrors_ = 0;
    int lastFrameError_ = 0;
    // Frames of packets the decoder rejected since the last frame it delivered: silence that
    // keeps their place, so a stream delivers the frames its container counts.
    int64_t silence_ = 0;
    int64_t sentDuration_ = 0; // of the last packet sent, in the stream's time base
    bool decodedAny_ = false; // since the demuxer was opened
    int64_t filePosition_ = 0;
    bool positionExact_ = true; // filePosition_ counts from the start without a gap
    bool linksChecked_ = false;
    // A chain of links alike in format: each link decodes with a decoder of its own, opened with
    // its own headers, as the link alone decodes. The packet that begins the next link waits
    // while the decoder of the link before delivers its last frames.
    std::vector<oggaudio::Link> links_;
    size_t link_ = 0;
    bool linkEnding_ = false;
    bool packetHeld_ = false;
    // The link's headers, which the demuxer hands on as packets, may come next.
    bool linkHeaders_ = false;
    // Of a chain our page reader described: where each link's frames end. The decode of a link
    // is trimmed to it, and one that falls short is filled with silence.
    std::vector<int64_t> linkEnds_;
    std::unique_ptr<OggPacketDuration> oggDurations_; // for the packets oggPages_ hands on
    std::unique_ptr<OggPageSeeker> oggPages_; // an Ogg stream's, where its pages were checked
    std::unique_ptr<FramePositionIndex> frameIndex_;
    bool restartedByIndex_ = false; // since the last seek by frameIndex_
};

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

// The demuxer takes a read the system failed for the end of the file, or for a packet cut short.
void FfmpegStream::checkReads(const QString &operation) const
{
    if (const int error = input_.readError())
        failRead(error, operation);
}

// A chained Ogg file whose links change format has no one format to state, and the decoder
// would go on with the first link's: it is refused before any of it is delivered. (A plain
// stream, which our page reader described, has one link.)
void FfmpegStream::refuseChangingLinks()
{
    if (linksChecked_)
        return;
    if (!described_ && std::strcmp(inputFormat_->name, "ogg") == 0) {
        oggaudio::Chain chain = oggaudio::readChain(file_, fileSize_);
        if (chain.changesFormat)
            throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_PATCHWELCOME,
                                 decodingText(),
                                 QStringLiteral("the links of the chained stream change its format"));
        links_ = std::move(chain.links);
    }
    linksChecked_ = true;
}

// A plain Ogg stream or chain whose pages were checked states each link's length: its decode is
// trimmed to it here, not by the demuxer, which reads the end of a stream with one page of audio
// wrongly. Each link of a chain decodes with a decoder of its own, and seeks by the pages of the
// link that holds the target.
void FfmpegStream::followOggPages(const oggaudio::Described &described)
{
    oggPages_ = OggPageSeeker::open(file_, fileSize_, described);
    if (described.links.size() > 1) {
        int64_t end = 0;
        for (const oggaudio::DescribedLink &link : described.links) {
            links_.push_back({link.start, link.extradata});
            linkEnds_.push_back(end += link.frames);
        }
    }
    linksChecked_ = true;
}

// The end the demuxer asks the decoder to trim: the pages' length trims it instead.
void FfmpegStream::trimOggEnd()
{
    size_t size = 0;
    uint8_t *skip = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 8)
        std::memset(skip + 4, 0, 4);
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
    decodedAny_ = false;
    filePosition_ = 0;
    positionExact_ = true;
    link_ = 0;
    linkEnding_ = packetHeld_ = linkHeaders_ = false;
    restartedByIndex_ = false;
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

// The packet read begins on a page of the next link.
bool FfmpegStream::entersNextLink() const
{
    return link_ + 1 < links_.size() && packet_->pos >= links_[link_ + 1].start;
}

// A header of the link begun, which its decoder already opened with.
bool FfmpegStream::isLinkHeader() const
{
    const auto *data = packet_->data;
    const int size = packet_->size;
    return (size >= 7 && (data[0] & 1) && std::memcmp(data + 1, "vorbis", 6) == 0)
           || (size >= 8
               && (std::memcmp(data, "OpusHead", 8) == 0 || std::memcmp(data, "OpusTags", 8) == 0));
}

// The link before has delivered all its frames: the next decodes as it would alone.
void FfmpegStream::beginNextLink()
{
    // A link whose decode fell short of its pages' length keeps the links after it in place.
    if (link_ < linkEnds_.size() && positionExact_ && filePosition_ + silence_ < linkEnds_[link_])
        silence_ = linkEnds_[link_] - filePosition_;
    ++link_;
    openDecoder(&links_[link_].extradata);
    linkEnding_ = false;
    linkHeaders_ = true;
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

// The next frame with samples, or false at the end of the stream.
bool FfmpegStream::nextFrame()
{
    haveFrame_ = false;
    frameOffset_ = 0;
    if (ended_)
        return false;
    const int channels = description_.format.channels;
    for (;;) {
        int status = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (status == 0) {
            if (frame_->nb_samples <= 0)
                continue;
            if (frame_->ch_layout.nb_channels != channels)
                throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_INVALIDDATA,
                                     decodingText(), QStringLiteral("the channel count changes"));
            if (frame_->sample_rate != rate())
                throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_INVALIDDATA,
                                     decodingText(), QStringLiteral("the sample rate changes"));
            consecutiveErrors_ = 0;
            decodedAny_ = true;
            haveFrame_ = true;
            if (originPts_ == AV_NOPTS_VALUE && filePosition_ == 0 && positionExact_)
                originPts_ = frame_->best_effort_timestamp == AV_NOPTS_VALUE
                                 ? 0
                                 : frame_->best_effort_timestamp
                                       - av_rescale_q(silence_, AVRational{1, rate()}, timeBase_);
            keepMissingFramesPlace();
            noteFrame();
            return true;
        }
        if (status == AVERROR_EOF && linkEnding_) {
            beginNextLink();
            continue;
        }
        if (status == AVERROR_EOF)
            return endOfStream();
        if (status != AVERROR(EAGAIN)) {
            if (survive(status, sentDuration_))
                continue;
            if (endAfterDamage(status))
                return false;
            fail(status, decodingText());
        }
        if (draining_) // a decoder that asks for more after the end
            return endOfStream();
        token_.throwIfCancelled();
        const PacketTaken taken = takePacket();
        if (taken == PacketTaken::ended)
            return false;
        if (taken == PacketTaken::none)
            continue;
        sentDuration_ = std::max<int64_t>(packet_->duration, 0);
        status = avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (status < 0 && status != AVERROR(EAGAIN) && survive(status, sentDuration_))
            continue;
        if (status < 0 && status != AVERROR(EAGAIN) && endAfterDamage(status))
            return false;
        if (status < 0 && status != AVERROR(EAGAIN))
            fail(status, decodingText());
    }
}

// FLAC frames missing between whole ones, in a stream whose last frame proved its length, are
// silence at the place the next one's number gives, the place a seek by timestamp finds it at.
void FfmpegStream::keepMissingFramesPlace()
{
    if (description_.format.container != u"flac" || !limit_ || !positionExact_ || originPts_ == AV_NOPTS_VALUE
        || frame_->best_effort_timestamp == AV_NOPTS_VALUE)
        return;
    const int64_t at = av_rescale_q_rnd(frame_->best_effort_timestamp - originPts_, timeBase_, AVRational{1, rate()},
                                        AV_ROUND_NEAR_INF);
    const int64_t expected = filePosition_ + silence_;
    if (at > expected && at + frame_->nb_samples <= *limit_)
        silence_ += at - expected;
}

// The next packet for the decoder. At the end of the stream, or where the packet begins the next
// link of a chain, the decoder is asked for the frames it holds back first.
FfmpegStream::PacketTaken FfmpegStream::takePacket()
{
    if (!packetHeld_) {
        int status = readPacket();
        checkReads(decodingText());
        if (status < 0 && status != AVERROR_EOF && status != AVERROR_EXIT && status != AVERROR(ENOMEM)
            && !token_.isCancelled()) {
            // A packet that cannot be read (a file cut inside it) ends the stream there, as the
            // command line ends it; a stream of which nothing decoded still fails at its end.
            if (!decodedAny_)
                lastFrameError_ = status;
            status = AVERROR_EOF;
        }
        if (status == AVERROR_EOF) {
            draining_ = true;
            return drainDecoder() ? PacketTaken::none : PacketTaken::ended;
        }
        if (status < 0)
            fail(status, decodingText());
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_.get());
            return PacketTaken::none;
        }
        if (entersNextLink()) {
            packetHeld_ = linkEnding_ = true;
            return drainDecoder() ? PacketTaken::none : PacketTaken::ended;
        }
    }
    packetHeld_ = false;
    if (linkHeaders_ && isLinkHeader()) {
        av_packet_unref(packet_.get());
        return PacketTaken::none;
    }
    linkHeaders_ = false;
    return PacketTaken::send;
}

// Asks the decoder for the frames it holds back; false where damage ended the stream.
bool FfmpegStream::drainDecoder()
{
    // A decoder on several threads reports a frame it rejected as late as here.
    const int status = avcodec_send_packet(decoder_.get(), nullptr);
    if (status < 0 && status != AVERROR_EOF && !survive(status, sentDuration_)) {
        if (endAfterDamage(status))
            return false;
        fail(status, decodingText());
    }
    return true;
}

// After a seek by the pages, the packets come from them rather than the demuxer.
int FfmpegStream::readPacket()
{
    if (!oggPages_ || !oggPages_->active()) {
        const int status = av_read_frame(demuxer_.get(), packet_.get());
        if (status == 0 && restartedByIndex_)
            FramePositionIndex::keepWhole(*packet_);
        if (status == 0 && oggPages_)
            trimOggEnd();
        return status;
    }
    const int status = oggPages_->nextPacket(*packet_);
    packet_->stream_index = streamIndex_;
    if (status == 0) {
        if (!oggDurations_)
            oggDurations_ = std::make_unique<OggPacketDuration>(*decoder_);
        packet_->duration = oggDurations_->of(*packet_);
    }
    return status;
}

// A bad frame is dropped, or replaced by silence of its duration where the container counted
// it, and the rest delivered, unless too many come in a row.
bool FfmpegStream::survive(int status, int64_t rejectedDuration)
{
    if (!isFrameError(status) || ++consecutiveErrors_ > maximumConsecutiveErrors)
        return false;
    lastFrameError_ = status;
    if (containerCounts_)
        silence_ += av_rescale_q(rejectedDuration, timeBase_, AVRational{1, rate()});
    return true;
}

// Damage that goes on after frames decoded ends the stream there, as the command line ends it;
// only a stream of which nothing decoded fails.
bool FfmpegStream::endAfterDamage(int status)
{
    if (!decodedAny_ || !isFrameError(status))
        return false;
    silence_ = 0;
    ended_ = true;
    return true;
}

// The end, unless every frame read from the start was rejected: then the stream is no audio.
bool FfmpegStream::endOfStream()
{
    if (!decodedAny_ && positionExact_ && lastFrameError_ != 0)
        fail(lastFrameError_, decodingText());
    ended_ = true;
    return false;
}

int64_t FfmpegStream::read(const SampleSink &sink, int64_t maxFrames)
{
    refuseChangingLinks();
    int64_t done = 0;
    while (done < maxFrames) {
        if (limit_ && filePosition_ >= *limit_)
            break;
        if (silence_ > 0) { // rejected packets before the frame, or before the end
            int64_t take = std::min(silence_, maxFrames - done);
            if (limit_)
                take = std::min(take, *limit_ - filePosition_);
            deliverSilence(take, sink.at(done));
            silence_ -= take;
            filePosition_ += take;
            done += take;
            continue;
        }
        if (!haveFrame_ || frameOffset_ >= frame_->nb_samples) {
            if (!nextFrame()) {
                if (silence_ > 0)
                    continue;
                if (frameIndex_ && positionExact_)
                    frameIndex_->finish(filePosition_);
                // A damaged stream can end before its stated length: from now on the length
                // is what the decode delivered.
                auto &length = description_.exactLength;
                if (positionExact_ && (!length || filePosition_ < *length))
                    length = filePosition_;
                break;
            }
            continue;
        }
        int64_t take = std::min<int64_t>(frame_->nb_samples - frameOffset_, maxFrames - done);
        if (limit_)
            take = std::min(take, *limit_ - filePosition_);
        if (positionExact_ && take > linkEnd() - filePosition_) {
            take = std::max<int64_t>(linkEnd() - filePosition_, 0);
            if (take == 0) { // past its link's end: the rest of the frame is dropped
                frameOffset_ = frame_->nb_samples;
                continue;
            }
        }
        deliverFrame(frame_.get(), frameOffset_, take, sink.at(done));
        frameOffset_ += int(take);
        filePosition_ += take;
        done += take;
    }
    return done;
}

void FfmpegStream::skip(int64_t frames)
{
    while (frames > 0) {
        token_.throwIfCancelled();
        const int64_t n = read(SampleSink{}, std::min<int64_t>(frames, 1 << 20));
        if (n == 0)
            return;
        frames -= n;
    }
}

void FfmpegStream::seek(int64_t target)
{
    token_.throwIfCancelled();
    if (description_.exactLength)
        target = std::min(target, *description_.exactLength);
    if (target == filePosition_ && positionExact_)
        return;
    const int64_t preroll = description_.lossless ? 0 : lossyPrerollFrames;
    if (positionExact_ && target >= filePosition_
        && target - filePosition_ <= std::max<int64_t>(preroll, 1 << 15)) {
        skip(target - filePosition_);
        return;
    }
    const int64_t start = target - preroll;
    if (oggPages_ && seekByPages(target))
        return;
    if (frameIndex_ && seekByFrameIndex(target, preroll))
        return;
    if (!description_.seekByTimestamp || start <= 0 || originPts_ == AV_NOPTS_VALUE)
        return rewindAndSkip(target);
    const int64_t ts = originPts_ + av_rescale_q(start, AVRational{1, rate()}, timeBase_);
    if (av_seek_frame(demuxer_.get(), streamIndex_, ts, AVSEEK_FLAG_BACKWARD) < 0) {
        token_.throwIfCancelled();
        return rewindAndSkip(target);
    }
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    ended_ = false;
    consecutiveErrors_ = 0;
    silence_ = 0;
    positionExact_ = false;
    if (!nextFrame() || frame_->best_effort_timestamp == AV_NOPTS_VALUE || silence_ > 0)
        return rewindAndSkip(target);
    const int64_t frameStart = av_rescale_q_rnd(frame_->best_effort_timestamp - originPts_,
                                                timeBase_, AVRational{1, rate()}, AV_ROUND_NEAR_INF);
    if (frameStart > target || frameStart < 0)
        return rewindAndSkip(target);
    filePosition_ = frameStart;
    positionExact_ = true;
    skip(target - frameStart);
}

bool FfmpegStream::seekByPages(int64_t target)
{
    std::optional<int64_t> at;
    try {
        if (!linkEnds_.empty()) {
            // Each link decodes as it does alone: a decoder of its own, opened afresh.
            link_ = oggPages_->linkOf(target);
            openDecoder(&links_[link_].extradata);
            linkEnding_ = packetHeld_ = linkHeaders_ = false;
            silence_ = 0;
        }
        at = oggPages_->seek(*decoder_, *frame_, target, token_);
    } catch (...) {
        // Cancelled midway: where the decoder stands is unknown until the next seek.
        oggPages_->stop();
        haveFrame_ = false;
        positionExact_ = false;
        throw;
    }
    if (!at)
        return false; // the decoder was flushed: the caller opens it again
    haveFrame_ = true;
    frameOffset_ = 0;
    draining_ = false;
    ended_ = false;
    consecutiveErrors_ = 0;
    filePosition_ = *at;
    positionExact_ = true;
    skip(target - *at);
    return true;
}

// Where a read from the start delivers this frame, it is noted for seeks.
void FfmpegStream::noteFrame()
{
    if (!frameIndex_ || !positionExact_ || silence_ > 0)
        return;
    const int64_t pts = frame_->best_effort_timestamp;
    const bool timed = pts != AV_NOPTS_VALUE;
    const int64_t after = timed ? pts + av_rescale_q(frame_->nb_samples, AVRational{1, rate()}, timeBase_) : 0;
    frameIndex_->note(frame_->pkt_pos, filePosition_, frame_->nb_samples, pts, after,
                      timed && frame_->nb_samples == decoder_->frame_size);
}

// Restarts the demuxer at a frame a read from the start found before target; false where the
// index has none, or the frame decoded there is not the one noted (the caller rewinds).
bool FfmpegStream::seekByFrameIndex(int64_t target, int64_t preroll)
{
    const auto entry = frameIndex_->restartFor(target, preroll);
    if (!entry || av_seek_frame(demuxer_.get(), streamIndex_, entry->byte, AVSEEK_FLAG_BYTE) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    ended_ = false;
    consecutiveErrors_ = 0;
    silence_ = 0;
    positionExact_ = false;
    restartedByIndex_ = true;
    if (!nextFrame() || frame_->pkt_pos != entry->byte || frame_->nb_samples != decoder_->frame_size || silence_ > 0)
        return false;
    filePosition_ = entry->position;
    positionExact_ = true;
    skip(target - entry->position);
    return true;
}

} // namespace

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
