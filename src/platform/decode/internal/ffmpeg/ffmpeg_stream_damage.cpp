#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include "platform/audio_file_error.h"
#include "platform/decode/internal/flac/flac_length.h"

#include <algorithm>

namespace tampod {

namespace {

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

} // namespace

// FLAC frames missing between whole ones are silence at the place the next one's number gives
// (in a FLAC file whose last frame proved its length, the place a seek by timestamp finds it
// at), or in Ogg FLAC at the place its page's granule gives: the timeline is kept, as where the
// decoder rejects a frame. Never past the length the stream's header states.
void FfmpegStream::keepMissingFramesPlace()
{
    const bool oggFlac = description_.format.container == u"ogg" && description_.format.codec == AudioCodecKind::flac;
    if ((description_.format.container != u"flac" || !limit_) && !oggFlac)
        return;
    if (!positionExact_ || originPts_ == AV_NOPTS_VALUE || frame_->best_effort_timestamp == AV_NOPTS_VALUE)
        return;
    const int64_t at = av_rescale_q_rnd(frame_->best_effort_timestamp - originPts_, timeBase_, AVRational{1, rate()},
                                        AV_ROUND_NEAR_INF);
    const int64_t expected = filePosition_ + silence_;
    const int64_t end = oggFlac ? flaclength::statedTotal({decoder_->extradata, size_t(std::max(decoder_->extradata_size, 0))}) : *limit_;
    if (at > expected && at + frame_->nb_samples <= end)
        silence_ += at - expected;
}

// A bad frame is dropped, or replaced by silence of its duration where the container counted
// it, and the rest delivered, unless too many come in a row.
bool FfmpegStream::survive(int status, int64_t rejectedDuration)
{
    if (!isFrameError(status) || ++consecutiveErrors_ > maximumConsecutiveErrors)
        return false;
    lastFrameError_ = status;
    // On a header's timeline the packet's frame is owed already.
    if (containerCounts_ && owed_ == 0)
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

} // namespace tampod
