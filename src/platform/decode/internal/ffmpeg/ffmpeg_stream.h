#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"
#include "platform/decode/internal/flac/flac_frame_order.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_file_input.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"
#include "platform/decode/internal/mpeg/frame_position_index.h"
#include "platform/decode/internal/mpeg/layer3_timeline.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"
#include "platform/decode/internal/ogg/ogg_packet_duration.h"
#include "platform/decode/internal/ogg/ogg_page_seeker.h"
#include "platform/internal/ffmpeg_owners.h"

#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace tampod {

// Demuxes and decodes a file through FFmpeg (see openFfmpegStream). Its members are defined by
// topic, each in a file of its own: opening, packets, frames handed to the reader, chain links,
// damage, an MP3 Info header's timeline and seeks.
class FfmpegStream final : public DecodedStream {
public:
    FfmpegStream(const FileHandle &file, const AVInputFormat *input, CancellationToken token,
                 DemuxerOptions demuxerOptions, bool glance, const containerheader::Header *header = nullptr);

    const AudioFileFormat &format() const override { return description_.format; }
    std::optional<int64_t> knownLength() const override { return description_.exactLength; }
    int64_t position() const override { return filePosition_; }

    int64_t countLength() override
    {
        refuseChangingLinks();
        openDemuxer();
        if (description_.format.codec == AudioCodecKind::flac && description_.format.container == u"flac")
            frameOrder_.emplace(std::span<const uint8_t>(decoder_->extradata, size_t(std::max(decoder_->extradata_size, 0))),
                                flacFixedBlock_.value_or(0));
        skip(std::numeric_limits<int64_t>::max());
        if (frameOrder_)
            framesOutOfOrder_ = frameOrder_->outOfOrder();
        frameOrder_.reset();
        if (!description_.exactLength)
            description_.exactLength = filePosition_;
        return *description_.exactLength;
    }
    // Counts shared between streams of one file (ffmpeg_stream_count.cpp)
    std::shared_ptr<const CountedLength> counted() const override;
    bool adoptCount(const CountedLength &count) override;

    void seek(int64_t target) override;
    int64_t read(const SampleSink &sink, int64_t maxFrames) override;

    void setCancellationToken(CancellationToken token) override
    {
        token_ = token;
        input_.setCancellationToken(std::move(token));
    }

    std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags() const override { return tags_; }

private:
    // Opening (ffmpeg_stream.cpp)
    [[noreturn]] void fail(int status, const QString &operation) const;
    void openDemuxer();
    void trustHeaderParameters(AVFormatContext &context);
    void openDecoder(const QByteArray *extradata);
    int rate() const { return int(description_.format.sampleRate); }

    // Packets (ffmpeg_stream_packets.cpp)
    void checkReads(const QString &operation) const;
    bool nextFrame();
    enum class PacketTaken { send, none, ended };
    PacketTaken takePacket();
    bool drainDecoder();
    int readPacket();

    // Frames handed to the reader (ffmpeg_stream_read.cpp)
    void skip(int64_t frames);

    // Chain links (ffmpeg_stream_links.cpp)
    void refuseChangingLinks();
    void followOggPages(const oggaudio::Described &described);
    void trimOggEnd();
    int64_t linkEnd() const
    {
        return link_ < linkEnds_.size() ? linkEnds_[link_] : std::numeric_limits<int64_t>::max();
    }
    bool entersNextLink() const;
    bool isLinkHeader() const;
    void beginNextLink();

    // Damage (ffmpeg_stream_damage.cpp)
    void keepMissingFramesPlace();
    bool survive(int status, int64_t rejectedDuration);
    bool endOfStream();
    bool endAfterDamage(int status);

    // An MP3 stream kept to its Info header's timeline (ffmpeg_stream_timeline.cpp)
    void keepNoTimestampIndex();
    void placeOnTimeline();
    bool frameOnTimeline();
    bool seekAlongTimeline(int64_t target, int64_t preroll);
    void walkTimeline(Layer3Timeline::Restart from, int64_t target);

    // Seeks (ffmpeg_stream_seek.cpp)
    bool seekByPages(int64_t target);
    void noteFrame();
    bool seekByFrameIndex(int64_t target, int64_t preroll);
    void restartDecoding();
    void rewindAndSkip(int64_t target)
    {
        openDemuxer();
        skip(target);
    }

    CancellationToken token_;
    const FileHandle &file_;
    const rawstream::End audioEnd_; // where the audio ends, and the walk of a raw stream that found it
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
    // A FLAC stream's frames as its count passes them, and what that found.
    std::optional<flaclength::FrameOrder> frameOrder_;
    bool framesOutOfOrder_ = false;
    // The same as a read passes them since the demuxer last started, at a seek or a rewind: one
    // numbered before the one due is refused where it comes, so no length stated from the header
    // cuts the frames short: at the first read after the open, where the open met it (the open
    // refuses those it sees, in its own words).
    std::optional<flaclength::FrameOrder> readOrder_;
    bool opened_ = false;
    // The size of a FLAC stream's frames numbered by their frame numbers, from its first frame
    // where STREAMINFO's block sizes differ (flaclength::fixedBlockOf); learned at the open.
    std::optional<int64_t> flacFixedBlock_;
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
    // Since the decoder's last frame: the duration of the packets sent (time base), and whether
    // the demuxer marked any of them for trimming.
    int64_t sentSinceFrame_ = 0;
    bool trimmedSinceFrame_ = false;
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
    std::unique_ptr<Layer3Timeline> timeline_; // of an MP3 stream whose length its Info header gave
    // Samples the last packet sent holds on the timeline that no frame delivered yet; whether the
    // decoder delivers whole frames (past the ones it trims at the start).
    int64_t owed_ = 0;
    bool onTimeline_ = false;
    Layer3Timeline::Run run_;
    // Samples of the packets sent from the stream's start that were one whole frame each.
    int64_t wholeSent_ = 0;
};

} // namespace tampod
