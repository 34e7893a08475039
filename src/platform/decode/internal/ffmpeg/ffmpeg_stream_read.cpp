#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include "platform/audio_file_error.h"

#include <algorithm>
#include <vector>

namespace tampod {

namespace {

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

} // namespace

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
                // A stream on its header's timeline delivers the header's length: silence for
                // the frames missing at its end.
                if (timeline_ && positionExact_ && filePosition_ < *limit_) {
                    silence_ = *limit_ - filePosition_;
                    continue;
                }
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

} // namespace tampod
