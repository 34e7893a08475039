#include "platform/output/audio_file_player.h"

#include "platform/decode/internal/playback/cached_pcm_source.h"
#include "platform/decode/internal/playback/pcm_source.h"
#include "platform/decode/internal/playback/reader_pcm_source.h"
#include "platform/decode/sample_rate_converter.h"
#include "platform/output/audio_output.h"
#include "platform/output/internal/playback_voice.h"
#include "platform/output/internal/wake_signal.h"

#include "concurrency/serial_executor.h"
#include "concurrency/thread_start.h"
#include "core/error.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace tampod {

namespace {

constexpr std::int64_t chunkFrames = 4096;

// Handlers run here, in order, off the real-time and decoder threads.
SerialExecutor &handlerExecutor()
{
    static SerialExecutor executor(QStringLiteral("audio player handlers"));
    return executor;
}

// At least half a second of audio, also when the device runs faster than the file, so the
// decoder can fall behind briefly without a dropout.
std::int64_t ringFramesFor(double rate)
{
    const auto half = static_cast<std::uint64_t>(std::clamp(rate, 96000.0, 768000.0) / 2);
    return static_cast<std::int64_t>(std::bit_ceil(half));
}

std::unique_ptr<PcmSource> playable(std::unique_ptr<PcmSource> source)
{
    if (!source || source->channels() < 1 || !(source->sampleRate() >= 1 && source->sampleRate() <= 1e6))
        throw MalformedData(QStringLiteral("the audio has no channels or no usable sample rate"));
    if (source->length() * source->channels() <= CachedPcmSource::maxSamples)
        return std::make_unique<CachedPcmSource>(std::move(source));
    return source;
}

} // namespace

class AudioFilePlayer::Impl {
public:
    explicit Impl(std::unique_ptr<PcmSource> source);
    ~Impl();

    bool play();
    void pause();
    void stop();
    void setCurrentTime(double seconds);
    void setNumberOfLoops(int loops);

    const int channels;
    const double rate;
    const std::int64_t length;
    std::atomic<int> loops{0};              // thread: any
    std::atomic<float> volume{1};           // thread: any
    std::unique_ptr<std::atomic<float>[]> levels; // thread: any (dBFS per channel)
    WakeSignal wake;     // thread: any; wakes the decoder
    PlaybackVoice voice; // thread: the real-time thread renders it; see PlaybackVoice

    // The handlers, shared with reports still queued: a report runs the handler set when it
    // runs, and none runs once the player is gone. Recursive, so a handler may change the
    // handlers or destroy the player.
    struct Handlers {
        std::recursive_mutex mutex;
        bool open = true;                                  // thread: mutex
        std::function<void(bool)> finished;                // thread: mutex
        std::function<void(std::exception_ptr)> decodeError; // thread: mutex
    };
    const std::shared_ptr<Handlers> handlers = std::make_shared<Handlers>();

private:
    friend class AudioFilePlayer;

    // One stretch of the ring that holds consecutive frames of one pass through the file.
    struct Segment {
        std::int64_t ringStart;
        std::int64_t ringFrames;
        std::int64_t fileStart;
        std::int64_t fileFrames;
        double fileFramesPerRingFrame;
        int pass;
    };

    bool prepareLocked();
    void detachLocked();
    void serviceEndLocked();
    void seekLocked(std::int64_t frame, bool wasEnded);
    void flushLocked(std::int64_t frame);
    void decodeChunkLocked();
    bool drainConverterLocked();
    void writeRingLocked(const float *frames, std::int64_t count);
    void configureRateLocked(double ringRate);
    Segment segmentAt(std::int64_t ringStart, std::int64_t fileStart) const;
    void failLocked(std::exception_ptr error);
    std::int64_t positionLocked() const;
    std::int64_t position() const;
    int heardPassLocked() const;
    void runDecoder();

    std::unique_ptr<PcmSource> source_; // thread: decodeMutex_
    const std::shared_ptr<AudioOutput> output_;

    std::mutex controlMutex_; // public operations, one at a time
    std::mutex decodeMutex_;  // the source, the ring's producer side and the state below
    bool prepared_ = false;   // thread: decodeMutex_
    bool attached_ = false;   // thread: decodeMutex_
    bool ended_ = false;      // thread: decodeMutex_; playback ran to its end (or failed)
    bool failed_ = false;     // thread: decodeMutex_
    bool endWritten_ = false; // thread: decodeMutex_
    bool seekPending_ = true; // thread: decodeMutex_
    bool quit_ = false;       // thread: decodeMutex_
    std::int64_t decodeFrame_ = 0; // thread: decodeMutex_
    std::int64_t written_ = 0;     // thread: decodeMutex_
    int pass_ = 0;                 // thread: decodeMutex_
    std::vector<float> buffer_;    // thread: decodeMutex_
    double ringRate_;              // thread: decodeMutex_ (rate of the frames in the ring)
    std::unique_ptr<SampleRateConverter> converter_; // thread: decodeMutex_; when ringRate_ differs

    mutable std::mutex mapMutex_;    // taken inside decodeMutex_ when both are needed
    std::deque<Segment> segments_;   // thread: mapMutex_

    std::jthread decoder_; // started under decodeMutex_, joined by the destructor
};

AudioFilePlayer::Impl::Impl(std::unique_ptr<PcmSource> source)
    : channels(source->channels()),
      rate(source->sampleRate()),
      length(std::max<std::int64_t>(source->length(), 0)),
      levels(std::make_unique<std::atomic<float>[]>(channels)),
      voice(channels, ringFramesFor(rate), wake),
      source_(std::move(source)),
      output_(AudioOutput::shared()),
      buffer_(static_cast<size_t>(chunkFrames) * channels),
      ringRate_(rate)
{
    for (int c = 0; c < channels; ++c)
        levels[c].store(-std::numeric_limits<float>::infinity());
    segments_.push_back(segmentAt(0, 0));
}

AudioFilePlayer::Impl::~Impl()
{
    {
        // Waits for a handler that is running right now.
        std::lock_guard lock(handlers->mutex);
        handlers->open = false;
    }
    {
        std::scoped_lock lock(controlMutex_, decodeMutex_);
        voice.setState(PlaybackVoice::State::Idle);
        detachLocked();
        quit_ = true;
    }
    wake.signal();
    if (decoder_.joinable())
        decoder_.join();
}

bool AudioFilePlayer::Impl::prepareLocked()
{
    if (prepared_)
        return true;
    const auto start = position();
    try {
        // Nothing is decoded yet, so the ring may change its rate.
        configureRateLocked(output_->rateFor(rate));
        flushLocked(start);
        decodeChunkLocked();
    } catch (...) {
        // Nothing was played, so nothing is reported: the caller learns it from the result.
        flushLocked(start);
        return false;
    }
    prepared_ = true;
    if (!decoder_.joinable())
        decoder_ = startThread([this] { runDecoder(); });
    wake.signal();
    return true;
}

bool AudioFilePlayer::Impl::play()
{
    std::scoped_lock lock(controlMutex_, decodeMutex_);
    serviceEndLocked();
    if (voice.state() == PlaybackVoice::State::Playing)
        return true;
    if (ended_) {
        const auto heard = position();
        seekLocked(heard >= length ? 0 : heard, true);
    }
    if (!prepareLocked())
        return false;
    if (!attached_) {
        try {
            const double streamRate = output_->attach(&voice, ringRate_);
            attached_ = true;
            // The stream was started for another source meanwhile: decode again at its rate.
            if (streamRate != ringRate_) {
                const auto heard = position();
                configureRateLocked(streamRate);
                seekLocked(heard, false);
            }
        } catch (...) {
            detachLocked();
            return false;
        }
    }
    voice.setState(PlaybackVoice::State::Playing);
    wake.signal();
    return true;
}

void AudioFilePlayer::Impl::pause()
{
    std::scoped_lock lock(controlMutex_, decodeMutex_);
    serviceEndLocked();
    voice.setState(PlaybackVoice::State::Idle);
    detachLocked();
}

void AudioFilePlayer::Impl::stop()
{
    std::scoped_lock lock(controlMutex_, decodeMutex_);
    serviceEndLocked();
    voice.setState(PlaybackVoice::State::Idle);
    detachLocked();
    if (prepared_) {
        flushLocked(position());
        prepared_ = false;
    }
}

void AudioFilePlayer::Impl::setCurrentTime(double seconds)
{
    std::scoped_lock lock(controlMutex_, decodeMutex_);
    serviceEndLocked();
    const double target = std::isfinite(seconds) ? std::round(seconds * rate) : 0.0;
    const auto frame = static_cast<std::int64_t>(std::clamp(target, 0.0, static_cast<double>(length)));
    seekLocked(frame, ended_);
}

void AudioFilePlayer::Impl::setNumberOfLoops(int count)
{
    std::scoped_lock lock(controlMutex_, decodeMutex_);
    serviceEndLocked();
    loops.store(count);
    if (!prepared_ || ended_)
        return;
    // Audio decoded past the end of the file followed the old count; decode it again.
    int lastPass = 0;
    int heard = 0;
    {
        std::lock_guard mapLock(mapMutex_);
        lastPass = segments_.back().pass;
        heard = heardPassLocked();
    }
    if (endWritten_ || lastPass != heard)
        seekLocked(position(), false);
}

void AudioFilePlayer::Impl::detachLocked()
{
    if (!attached_)
        return;
    output_->detach(&voice);
    attached_ = false;
}

// The voice played its last frame: leave the mix and report once.
void AudioFilePlayer::Impl::serviceEndLocked()
{
    if (voice.state() != PlaybackVoice::State::Drained)
        return;
    voice.setState(PlaybackVoice::State::Idle);
    detachLocked();
    ended_ = true;
    (void)handlerExecutor().submit([handlers = handlers, ok = !failed_] {
        std::lock_guard lock(handlers->mutex);
        if (handlers->open && handlers->finished)
            handlers->finished(ok);
    });
}

void AudioFilePlayer::Impl::seekLocked(std::int64_t frame, bool wasEnded)
{
    const bool wasPlaying = voice.state() == PlaybackVoice::State::Playing;
    if (wasPlaying) {
        voice.setState(PlaybackVoice::State::Idle);
        output_->waitForRenderPass();
    }
    {
        std::lock_guard lock(mapMutex_);
        // A finished playback starts its loop count again; a seek within one keeps it.
        pass_ = wasEnded ? 0 : heardPassLocked();
    }
    ended_ = false;
    flushLocked(frame);
    if (prepared_) {
        try {
            decodeChunkLocked();
        } catch (...) {
            failLocked(std::current_exception());
        }
    }
    if (wasPlaying)
        voice.setState(PlaybackVoice::State::Playing);
    wake.signal();
}

// Only while the real-time thread does not read the voice.
void AudioFilePlayer::Impl::flushLocked(std::int64_t frame)
{
    std::lock_guard lock(mapMutex_);
    voice.flush();
    decodeFrame_ = frame;
    seekPending_ = true;
    written_ = 0;
    endWritten_ = false;
    failed_ = false; // the failure went with the audio it ended
    segments_.clear();
    segments_.push_back(segmentAt(0, frame));
    if (converter_)
        converter_->reset();
}

// Only with an empty ring. Throws for rates the converter cannot take, changing nothing.
void AudioFilePlayer::Impl::configureRateLocked(double ringRate)
{
    if (ringRate == ringRate_)
        return;
    std::unique_ptr<SampleRateConverter> converter;
    if (ringRate != rate)
        converter = std::make_unique<SampleRateConverter>(channels, static_cast<int>(std::lround(rate)),
                                                          static_cast<int>(std::lround(ringRate)));
    converter_ = std::move(converter);
    ringRate_ = ringRate;
}

AudioFilePlayer::Impl::Segment AudioFilePlayer::Impl::segmentAt(std::int64_t ringStart,
                                                                std::int64_t fileStart) const
{
    return {ringStart, 0, fileStart, 0, rate / ringRate_, pass_};
}

void AudioFilePlayer::Impl::decodeChunkLocked()
{
    if (endWritten_)
        return;
    if (converter_ && drainConverterLocked())
        return;
    if (decodeFrame_ >= length) {
        const int count = loops.load();
        if (length > 0 && (count < 0 || pass_ < count)) {
            // The converter runs on across the wrap, so a loop stays gapless when resampled.
            ++pass_;
            decodeFrame_ = 0;
            seekPending_ = true;
            std::lock_guard lock(mapMutex_);
            segments_.push_back(segmentAt(written_, 0));
        } else {
            if (converter_ && !converter_->isFinished()) {
                converter_->finish();
                if (drainConverterLocked())
                    return;
            }
            endWritten_ = true;
            voice.markEnd();
            return;
        }
    }
    if (seekPending_) {
        source_->seek(decodeFrame_);
        seekPending_ = false;
    }
    const auto space = voice.ring().writable();
    // Converted frames must fit too; the margin covers the converter's rounding.
    const auto room = converter_ ? static_cast<std::int64_t>(static_cast<double>(space) * rate / ringRate_) - 16
                                 : space;
    const auto want = std::min({chunkFrames, length - decodeFrame_, room});
    if (want <= 0)
        return;
    const auto got = std::min(source_->read(buffer_.data(), want), want);
    if (got <= 0)
        throw MalformedData(QStringLiteral("the audio data ends before its stated length"));
    decodeFrame_ += got;
    if (!converter_) {
        {
            std::lock_guard lock(mapMutex_);
            segments_.back().fileFrames += got;
        }
        writeRingLocked(buffer_.data(), got);
        return;
    }
    converter_->push(buffer_.data(), got);
    {
        std::lock_guard lock(mapMutex_);
        segments_.back().fileFrames += got;
    }
    drainConverterLocked();
}

// Moves converted frames into the ring; true while some are still waiting for room.
bool AudioFilePlayer::Impl::drainConverterLocked()
{
    while (converter_->available() > 0) {
        const auto room = std::min<std::int64_t>(chunkFrames, voice.ring().writable());
        const auto n = converter_->take(buffer_.data(), room);
        if (n <= 0)
            break;
        writeRingLocked(buffer_.data(), n);
    }
    return converter_->available() > 0;
}

void AudioFilePlayer::Impl::writeRingLocked(const float *frames, std::int64_t count)
{
    voice.ring().write(frames, count);
    std::lock_guard lock(mapMutex_);
    segments_.back().ringFrames += count;
    written_ += count;
    // Drop what was heard already; a short file looping for hours must not grow the map.
    const auto consumed = voice.consumed();
    while (segments_.size() > 1 && segments_.front().ringStart + segments_.front().ringFrames < consumed)
        segments_.pop_front();
}

void AudioFilePlayer::Impl::failLocked(std::exception_ptr error)
{
    failed_ = true;
    endWritten_ = true;
    voice.markEnd();
    (void)handlerExecutor().submit([handlers = handlers, error] {
        std::lock_guard lock(handlers->mutex);
        if (handlers->open && handlers->decodeError)
            handlers->decodeError(error);
    });
}

// With mapMutex_ held.
std::int64_t AudioFilePlayer::Impl::positionLocked() const
{
    const auto consumed = voice.consumed();
    for (const auto &segment : segments_) {
        if (consumed < segment.ringStart + segment.ringFrames) {
            const auto offset = consumed - segment.ringStart;
            if (segment.fileFramesPerRingFrame == 1.0)
                return segment.fileStart + offset;
            const std::int64_t scaled =
                std::llround(static_cast<double>(offset) * segment.fileFramesPerRingFrame);
            return segment.fileStart + std::min(scaled, segment.fileFrames);
        }
    }
    const auto &last = segments_.back();
    return last.fileStart + last.fileFrames;
}

std::int64_t AudioFilePlayer::Impl::position() const
{
    std::lock_guard lock(mapMutex_);
    return positionLocked();
}

// With mapMutex_ held.
int AudioFilePlayer::Impl::heardPassLocked() const
{
    const auto consumed = voice.consumed();
    for (const auto &segment : segments_) {
        if (consumed < segment.ringStart + segment.ringFrames)
            return segment.pass;
    }
    return segments_.back().pass;
}

void AudioFilePlayer::Impl::runDecoder()
{
    for (;;) {
        wake.waitFor(std::chrono::milliseconds(100));
        std::unique_lock lock(decodeMutex_);
        if (quit_)
            return;
        serviceEndLocked();
        while (prepared_ && !endWritten_ && voice.ring().writable() >= chunkFrames) {
            try {
                decodeChunkLocked();
            } catch (...) {
                failLocked(std::current_exception());
            }
            // Let a waiting operation in between chunks.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
            if (quit_)
                return;
        }
    }
}

AudioFilePlayer::AudioFilePlayer(const QString &path)
    : AudioFilePlayer(openPcmSource(path))
{
}

AudioFilePlayer::AudioFilePlayer(std::unique_ptr<PcmSource> source)
    : impl_(std::make_unique<Impl>(playable(std::move(source))))
{
}

AudioFilePlayer::~AudioFilePlayer() = default;

bool AudioFilePlayer::prepareToPlay()
{
    std::scoped_lock lock(impl_->controlMutex_, impl_->decodeMutex_);
    return impl_->prepareLocked();
}

bool AudioFilePlayer::play() { return impl_->play(); }
void AudioFilePlayer::pause() { impl_->pause(); }
void AudioFilePlayer::stop() { impl_->stop(); }
void AudioFilePlayer::setCurrentTime(double seconds) { impl_->setCurrentTime(seconds); }
double AudioFilePlayer::duration() const { return static_cast<double>(impl_->length) / impl_->rate; }
bool AudioFilePlayer::isPlaying() const
{
    return impl_->voice.state() == PlaybackVoice::State::Playing;
}
int AudioFilePlayer::numberOfLoops() const { return impl_->loops.load(); }
void AudioFilePlayer::setNumberOfLoops(int loops) { impl_->setNumberOfLoops(loops); }
float AudioFilePlayer::volume() const { return impl_->volume.load(); }
int AudioFilePlayer::numberOfChannels() const { return impl_->channels; }

double AudioFilePlayer::currentTime() const
{
    return static_cast<double>(impl_->position()) / impl_->rate;
}

void AudioFilePlayer::updateMeters()
{
    for (int c = 0; c < impl_->channels; ++c) {
        const float peak = impl_->voice.takePeak(c);
        const float level = peak > 0 ? 20.0f * std::log10(peak) : -std::numeric_limits<float>::infinity();
        impl_->levels[c].store(level);
    }
}

void AudioFilePlayer::setVolume(float volume)
{
    impl_->volume.store(volume);
    impl_->voice.setGain(volume);
}

float AudioFilePlayer::peakPower(int channel) const
{
    if (channel < 0 || channel >= impl_->channels)
        return -std::numeric_limits<float>::infinity();
    return impl_->levels[channel].load();
}

void AudioFilePlayer::setFinishedHandler(std::function<void(bool)> handler)
{
    std::lock_guard lock(impl_->handlers->mutex);
    impl_->handlers->finished = std::move(handler);
}

void AudioFilePlayer::setDecodeErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    std::lock_guard lock(impl_->handlers->mutex);
    impl_->handlers->decodeError = std::move(handler);
}

} // namespace tampod
