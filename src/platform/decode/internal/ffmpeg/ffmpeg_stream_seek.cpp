#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include <algorithm>
#include <utility>

namespace tampod {

namespace {

// Frames decoded and dropped before a seek target of a lossy stream, so the decoder's
// overlap and bit reservoir are filled as they are in a read from the start.
constexpr int64_t lossyPrerollFrames = 16384;

} // namespace

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
    // The demuxer's timestamps leave out frames lost in junk, which the header's timeline counts.
    if (timeline_ && start > 0) {
        if (!seekAlongTimeline(target, preroll))
            rewindAndSkip(target);
        return;
    }
    if (!description_.seekByTimestamp || start <= 0 || originPts_ == AV_NOPTS_VALUE)
        return rewindAndSkip(target);
    const int64_t ts = originPts_ + av_rescale_q(start, AVRational{1, rate()}, timeBase_);
    if (av_seek_frame(demuxer_.get(), streamIndex_, ts, AVSEEK_FLAG_BACKWARD) < 0) {
        token_.throwIfCancelled();
        return rewindAndSkip(target);
    }
    restartDecoding();
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
    // The packets before this frame's own that yielded nothing: the decoder rejected them or
    // found no audio in them (tags and an Info frame at a join), unless the demuxer meant it to
    // trim them.
    const int64_t sent = std::exchange(sentSinceFrame_, 0);
    const int64_t unheard = std::exchange(trimmedSinceFrame_, false) ? 0 : std::max<int64_t>(sent - sentDuration_, 0);
    if (!frameIndex_ || !positionExact_ || silence_ > 0)
        return;
    const int64_t pts = frame_->best_effort_timestamp;
    const bool timed = pts != AV_NOPTS_VALUE;
    const int64_t after = timed ? pts + av_rescale_q(frame_->nb_samples, AVRational{1, rate()}, timeBase_) : 0;
    frameIndex_->note(frame_->pkt_pos, filePosition_, frame_->nb_samples, pts, after,
                      timed && frame_->nb_samples == decoder_->frame_size, unheard);
}

// After the demuxer moved: the decoder starts afresh, at a position not yet known.
void FfmpegStream::restartDecoding()
{
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    ended_ = false;
    consecutiveErrors_ = 0;
    sentSinceFrame_ = 0;
    trimmedSinceFrame_ = false;
    silence_ = 0;
    positionExact_ = false;
    owed_ = 0;
    onTimeline_ = false;
    run_ = {};
    readOrder_.reset();
}

// Restarts the demuxer at a frame a read from the start found before target; false where the
// index has none, or the frame decoded there is not the one noted (the caller rewinds).
bool FfmpegStream::seekByFrameIndex(int64_t target, int64_t preroll)
{
    const auto entry = frameIndex_->restartFor(target, preroll);
    if (!entry || av_seek_frame(demuxer_.get(), streamIndex_, entry->byte, AVSEEK_FLAG_BYTE) < 0)
        return false;
    restartDecoding();
    restartedByIndex_ = true;
    if (!nextFrame() || frame_->pkt_pos != entry->byte || frame_->nb_samples != decoder_->frame_size || silence_ > 0)
        return false;
    filePosition_ = entry->position;
    positionExact_ = true;
    skip(target - entry->position);
    return true;
}

} // namespace tampod
