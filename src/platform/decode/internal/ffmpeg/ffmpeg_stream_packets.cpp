#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include "platform/audio_file_error.h"
#include "platform/decode/internal/flac/flac_length.h"

#include <algorithm>

namespace tampod {

// The demuxer takes a read the system failed for the end of the file, or for a packet cut short.
void FfmpegStream::checkReads(const QString &operation) const
{
    if (const int error = input_.readError())
        failRead(error, operation);
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
            if (frame_->nb_samples <= 0 || (timeline_ && !frameOnTimeline()))
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
        if (timeline_)
            placeOnTimeline();
        sentDuration_ = std::max<int64_t>(packet_->duration, 0);
        sentSinceFrame_ += sentDuration_;
        trimmedSinceFrame_ = trimmedSinceFrame_ || FramePositionIndex::trims(*packet_);
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
        // A FLAC frame is timed by the number in its header: the demuxer's parser counts the
        // frames it passed instead, which closes a gap before a shorter last frame, and the Ogg
        // demuxer times the frames of a page after missing ones from the page before.
        if (status == 0 && description_.format.codec == AudioCodecKind::flac) {
            const std::span<const uint8_t> frame{packet_->data, size_t(std::max(packet_->size, 0))};
            const std::span<const uint8_t> info{decoder_->extradata, size_t(std::max(decoder_->extradata_size, 0))};
            if (!flacFixedBlock_) // the stream's first frame, at the open
                flacFixedBlock_ = flaclength::fixedBlockOf(frame, info);
            const auto first = flaclength::frameStart(frame, info, *flacFixedBlock_);
            if (first)
                packet_->pts = packet_->dts = av_rescale_q(*first, AVRational{1, rate()}, timeBase_);
            if (frameOrder_) {
                frameOrder_->note(frame);
            } else if (description_.format.container == u"flac") {
                if (!readOrder_) {
                    readOrder_.emplace(info, *flacFixedBlock_);
                    if (!opened_ && first) // the stream's own first frame, as the open found it
                        readOrder_->expect(*first);
                }
                readOrder_->note(frame);
                if (opened_ && readOrder_->outOfOrder()) {
                    // Refused until a seek starts the read over: where the demuxer stands is
                    // no longer where the position says. The frame goes no further.
                    positionExact_ = false;
                    av_packet_unref(packet_.get());
                    failFramesOutOfOrder(decodingText());
                }
            }
        }
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

} // namespace tampod
