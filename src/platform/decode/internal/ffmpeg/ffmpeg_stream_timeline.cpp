#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include <utility>

namespace tampod {

// A stream on its timeline seeks by the restarts it noted, never by the demuxer's timestamps.
// The demuxer's index of them would only cost: after a restart its packets' timestamps count
// afresh from zero, and each is filed among those of the whole stream before it, moving them.
void FfmpegStream::keepNoTimestampIndex()
{
    if (timeline_)
        demuxer_->max_index_size = 0;
}

// A packet about to be sent: silence for what the packet before it holds on the timeline and
// no frame delivered, then for frames lost where it is no whole frame. Where the
// decoder delivers whole frames, the packet is owed one, and where the position is known and
// the packet is one whole frame, a decode may restart at it.
void FfmpegStream::placeOnTimeline()
{
    const Layer3Timeline::Packet packet = timeline_->packet({packet_->data, size_t(std::max(packet_->size, 0))}, run_);
    silence_ += std::exchange(owed_, 0) + packet.lost;
    const int64_t wholeBefore = wholeSent_;
    wholeSent_ += packet.whole ? timeline_->samplesPerFrame() : 0;
    // The demuxer marks the packets whose samples the decoder trims (an encoder's delay, the
    // padding at the end): those deliver what the decoder makes of them.
    if (!onTimeline_ || FramePositionIndex::trims(*packet_))
        return;
    owed_ = timeline_->samplesPerFrame();
    if (packet.whole && positionExact_ && packet_->pos >= 0)
        timeline_->note({packet_->pos, filePosition_ + silence_, wholeBefore});
}

// A frame decoded: one the packet owes is delivered where it is one frame of the stream; any
// other (junk the demuxer took for a frame, of another layer, rate or channel count) gives way
// to silence of the frame's length.
bool FfmpegStream::frameOnTimeline()
{
    const int64_t owed = std::exchange(owed_, 0);
    const bool whole = frame_->nb_samples == timeline_->samplesPerFrame() && frame_->sample_rate == rate()
                       && frame_->ch_layout.nb_channels == description_.format.channels;
    onTimeline_ = onTimeline_ || whole;
    if (owed == 0 || whole)
        return true;
    silence_ += owed;
    return false;
}

// The packets from the latest restart noted are walked, not decoded, past target (noting the
// restarts they pass), and the decode restarts preroll before target, in whole frames: the
// frames from there fill the decoder as a read from the start fills it.
bool FfmpegStream::seekAlongTimeline(int64_t target, int64_t preroll)
{
    // The first restart lies past the frames the decoder trims at the start: a read notes it.
    if (!timeline_->last()) {
        if (!positionExact_)
            openDemuxer();
        for (int frames = 0; frames < 64 && !timeline_->last(); ++frames)
            if (read(SampleSink{}, timeline_->samplesPerFrame()) == 0)
                break;
    }
    const std::optional<Layer3Timeline::Restart> last = timeline_->last();
    if (!last)
        return false;
    if (last->position <= target)
        walkTimeline(*last, target);
    const std::optional<Layer3Timeline::Restart> restart = timeline_->restartFor(target, preroll);
    if (!restart || av_seek_frame(demuxer_.get(), streamIndex_, restart->byte, AVSEEK_FLAG_BYTE) < 0)
        return false;
    restartDecoding();
    restartedByIndex_ = true;
    wholeSent_ = restart->whole;
    if (!nextFrame() || frame_->pkt_pos != restart->byte || silence_ > 0)
        return false;
    filePosition_ = restart->position;
    positionExact_ = true;
    skip(target - restart->position);
    return true;
}

// Reads the packets from a restart on, each one frame of the timeline after the frames lost
// before it, and notes the restarts among them, until one begins past target or the stream
// ends. The demuxer is left wherever the walk stopped.
void FfmpegStream::walkTimeline(Layer3Timeline::Restart from, int64_t target)
{
    if (av_seek_frame(demuxer_.get(), streamIndex_, from.byte, AVSEEK_FLAG_BYTE) < 0)
        return;
    restartDecoding();
    restartedByIndex_ = true;
    bool first = true;
    Layer3Timeline::Run run;
    int64_t whole = from.whole;
    for (int64_t at = from.position; at <= target;) {
        token_.throwIfCancelled();
        const int status = readPacket();
        checkReads(decodingText());
        if (status == AVERROR_EXIT || status == AVERROR(ENOMEM))
            fail(status, decodingText());
        if (status < 0)
            return;
        AVPacket *packet = packet_.get();
        if (packet->stream_index != streamIndex_) {
            av_packet_unref(packet);
            continue;
        }
        const Layer3Timeline::Packet placed = timeline_->packet({packet->data, size_t(std::max(packet->size, 0))}, run);
        if (first && (packet->pos != from.byte || !placed.whole)) {
            av_packet_unref(packet);
            return;
        }
        at += first ? 0 : placed.lost;
        first = false;
        if (placed.whole && packet->pos >= 0)
            timeline_->note({packet->pos, at, whole});
        whole += placed.whole ? timeline_->samplesPerFrame() : 0;
        at += timeline_->samplesPerFrame();
        av_packet_unref(packet);
    }
}

} // namespace tampod
