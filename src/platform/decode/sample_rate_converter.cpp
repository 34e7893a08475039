#include "platform/decode/sample_rate_converter.h"

#include "platform/audio_file_error.h"
#include "platform/internal/ffmpeg_owners.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>

namespace tampod {

namespace {
constexpr int maximumChannels = 64;
constexpr int maximumRate = 1536000;
constexpr int chunkFrames = 8192;
} // namespace

struct SampleRateConverter::Engine {
    ffmpeg::Resampler swr;
};

SampleRateConverter::SampleRateConverter(int channels, int inputRate, int outputRate)
    : channels_(channels), inputRate_(inputRate), outputRate_(outputRate),
      engine_(std::make_unique<Engine>())
{
    const QString operation = QStringLiteral("Preparing sample rate conversion");
    if (channels < 1 || channels > maximumChannels || inputRate < 1 || inputRate > maximumRate
        || outputRate < 1 || outputRate > maximumRate)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), operation);
    reset();
}

SampleRateConverter::~SampleRateConverter() = default;

int64_t SampleRateConverter::outputFramesFor(int64_t inputFrames) const
{
    // Exact integer arithmetic for the rounding; 128-bit keeps long files from overflowing.
    const __int128 numerator = __int128(inputFrames) * outputRate_;
    return int64_t((2 * numerator + inputRate_) / (2 * __int128(inputRate_)));
}

void SampleRateConverter::reset()
{
    const QString operation = QStringLiteral("Preparing sample rate conversion");
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels_);
    SwrContext *raw = nullptr;
    int status = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLT, outputRate_, &layout,
                                     AV_SAMPLE_FMT_FLT, inputRate_, 0, nullptr);
    av_channel_layout_uninit(&layout);
    ffmpeg::Resampler swr(raw);
    if (status < 0)
        throw AudioFileError(AudioFileError::Kind::codec, status, operation,
                             ffmpeg::errorString(status));
    av_opt_set_int(swr.get(), "resampler", SWR_ENGINE_SOXR, 0);
    status = swr_init(swr.get());
    if (status < 0) {
        // A build without the soxr engine still converts with the built-in one.
        av_opt_set_int(swr.get(), "resampler", SWR_ENGINE_SWR, 0);
        status = swr_init(swr.get());
    }
    if (status < 0)
        throw AudioFileError(AudioFileError::Kind::codec, status, operation,
                             ffmpeg::errorString(status));
    engine_->swr = std::move(swr);
    pending_.clear();
    readOffset_ = 0;
    totalIn_ = 0;
    totalOut_ = 0;
    finished_ = false;
}

void SampleRateConverter::appendConverted(const float *interleaved, int frames)
{
    const int capacity = swr_get_out_samples(engine_->swr.get(), frames);
    if (capacity < 0)
        throw AudioFileError(AudioFileError::Kind::codec, capacity,
                             QStringLiteral("Converting the sample rate"),
                             ffmpeg::errorString(capacity));
    const size_t base = pending_.size();
    pending_.resize(base + size_t(capacity + 1) * size_t(channels_));
    uint8_t *out = reinterpret_cast<uint8_t *>(pending_.data() + base);
    const uint8_t *in = reinterpret_cast<const uint8_t *>(interleaved);
    const int produced = swr_convert(engine_->swr.get(), &out, capacity + 1,
                                     interleaved ? &in : nullptr, interleaved ? frames : 0);
    pending_.resize(base + size_t(std::max(produced, 0)) * size_t(channels_));
    if (produced < 0)
        throw AudioFileError(AudioFileError::Kind::codec, produced,
                             QStringLiteral("Converting the sample rate"),
                             ffmpeg::errorString(produced));
    totalOut_ += produced;
}

void SampleRateConverter::push(const float *interleaved, int64_t frames)
{
    if (finished_ || frames <= 0)
        return;
    compact();
    while (frames > 0) {
        const int n = int(std::min<int64_t>(frames, chunkFrames));
        appendConverted(interleaved, n);
        interleaved += ptrdiff_t(n) * channels_;
        frames -= n;
        totalIn_ += n;
    }
}

void SampleRateConverter::finish()
{
    if (finished_)
        return;
    // Drain the filter until it has nothing more to give.
    for (int round = 0; round < 64; ++round) {
        const int64_t before = totalOut_;
        appendConverted(nullptr, 0);
        if (totalOut_ == before)
            break;
    }
    const int64_t target = outputFramesFor(totalIn_);
    const int64_t surplus = totalOut_ - target;
    const int64_t frames = int64_t(pending_.size()) / channels_;
    const int64_t kept = surplus > 0 ? frames - std::min(surplus, available()) : frames - surplus;
    pending_.resize(size_t(kept * channels_), 0.0f);
    totalOut_ = target;
    finished_ = true;
}

int64_t SampleRateConverter::take(float *interleaved, int64_t maxFrames)
{
    const int64_t n = std::min(maxFrames, available());
    if (n <= 0)
        return 0;
    std::copy_n(pending_.data() + readOffset_ * channels_, n * channels_, interleaved);
    readOffset_ += n;
    return n;
}

void SampleRateConverter::compact()
{
    if (readOffset_ == 0)
        return;
    pending_.erase(pending_.begin(), pending_.begin() + readOffset_ * channels_);
    readOffset_ = 0;
}

} // namespace tampod
