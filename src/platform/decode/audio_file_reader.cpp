#include "platform/decode/audio_file_reader.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/decoded_stream.h"
#include "platform/decode/internal/decode_limits.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/sample_rate_converter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numeric>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

namespace tampod {

namespace {

// Client frames converted and dropped before a seek target, so the filter has its history.
constexpr int64_t converterPrerollFrames = 8192;

FileHandle openAudioFile(const QString &path)
{
    try {
        return FileHandle::openOutside(path);
    } catch (const NotARegularFile &error) {
        throw AudioFileError(AudioFileError::Kind::notAudio, AVERROR(error.errnoValue()),
                             openingText(), error.message());
    }
}

// Bytes of the opened file that the system fails to read (the header and length reads of the
// containers included) fail the decode as the streams' own reads do.
template <typename Work>
auto readingSource(const QString &operation, Work &&work)
{
    try {
        return work();
    } catch (const SystemError &error) {
        failRead(error.errnoValue(), operation);
    }
}

} // namespace

// The file, its decoded stream at the file's rate, and the conversion to a client rate.
struct AudioFileReader::Impl {
    Impl(const QString &path, CancellationToken token, bool glance)
        : token(std::move(token)), file(openAudioFile(path)), opened(LengthCache::shared().identityOf(file)),
          stream(readingSource(openingText(), [&] { return openDecodedStream(file, this->token, glance); })),
          channels(stream->format().channels)
    {
    }
    Impl(const QString &path, const RawPCMFormat &raw, CancellationToken token)
        : token(std::move(token)), file(openAudioFile(path)),
          stream(readingSource(openingText(),
                               [&] { return openRawPCMStream(file, raw.sampleRate, raw.channels, raw.bits, this->token); })),
          channels(stream->format().channels)
    {
    }

    SampleSink sinkOf(SampleSink::Layout layout) const
    {
        SampleSink sink;
        sink.layout = layout;
        sink.channels = channels;
        return sink;
    }

    void seek(int64_t target)
    {
        readingSource(decodingText(), [&] { seekAtRate(target); });
    }

    int64_t read(const SampleSink &sink, int64_t maxFrames)
    {
        return readingSource(decodingText(), [&] { return readAtRate(sink, maxFrames); });
    }

    // Client-rate seek: start the converter on a frame where both rates meet exactly.
    void seekAtRate(int64_t target)
    {
        if (!converter)
            return stream->seek(target);
        if (const auto length = stream->knownLength())
            target = std::min(target, converter->outputFramesFor(*length));
        const int64_t g = std::gcd(converter->inputRate(), converter->outputRate());
        const int64_t stepIn = converter->inputRate() / g;
        const int64_t stepOut = converter->outputRate() / g;
        const int64_t blocks = std::max<int64_t>(0, target - converterPrerollFrames) / stepOut;
        stream->seek(blocks * stepIn);
        converter->reset();
        clientPosition = blocks * stepOut;
        readAtRate(sinkOf(SampleSink::Layout::discard), target - clientPosition);
    }

    int64_t readAtRate(const SampleSink &sink, int64_t maxFrames)
    {
        token.throwIfCancelled();
        if (maxFrames <= 0)
            return 0;
        if (!converter)
            return stream->read(sink, maxFrames);
        const int64_t block = AudioFileReader::defaultBlockFrames;
        if (fileScratch.empty()) {
            fileScratch.resize(size_t(block * channels));
            clientScratch.resize(size_t(block * channels));
        }
        SampleSink scratch = sinkOf(SampleSink::Layout::floatInterleaved);
        scratch.interleaved = fileScratch.data();
        int64_t done = 0;
        while (done < maxFrames) {
            if (converter->available() == 0) {
                if (converter->isFinished())
                    break;
                token.throwIfCancelled();
                const int64_t n = stream->read(scratch, block);
                if (n == 0)
                    converter->finish();
                else
                    converter->push(fileScratch.data(), n);
                continue;
            }
            int64_t n = 0;
            if (sink.layout == SampleSink::Layout::floatInterleaved) {
                n = converter->take(sink.interleaved + (sink.offset + done) * channels, maxFrames - done);
            } else {
                n = converter->take(clientScratch.data(), std::min(maxFrames - done, block));
                deliverInterleaved(clientScratch.data(), n, sink.at(done));
            }
            done += n;
            clientPosition += n;
        }
        return done;
    }

    CancellationToken token;
    FileHandle file; // read by the stream: declared before it
    // The file as the stream was opened on it, where counts are shared; none for raw PCM,
    // whose count is that of the parameters given, not of the file alone.
    const std::optional<LengthCache::Identity> opened;
    std::unique_ptr<DecodedStream> stream;
    const int channels;
    std::unique_ptr<SampleRateConverter> converter;
    int64_t clientPosition = 0;
    std::vector<float> fileScratch;   // interleaved, at the file's rate
    std::vector<float> clientScratch; // interleaved, converted
};

AudioFileReader::AudioFileReader(const QString &path, CancellationToken token, Use use)
{
    token.throwIfCancelled();
    impl_ = std::make_unique<Impl>(path, std::move(token), use == Use::glance);
}

AudioFileReader::AudioFileReader(const QString &path, const RawPCMFormat &raw, CancellationToken token)
{
    token.throwIfCancelled();
    impl_ = std::make_unique<Impl>(path, raw, std::move(token));
}

AudioFileReader::~AudioFileReader() = default;
AudioFileReader::AudioFileReader(AudioFileReader &&) noexcept = default;
AudioFileReader &AudioFileReader::operator=(AudioFileReader &&) noexcept = default;

const AudioFileFormat &AudioFileReader::fileFormat() const { return impl_->stream->format(); }
int AudioFileReader::channels() const { return impl_->channels; }
double AudioFileReader::fileSampleRate() const { return impl_->stream->format().sampleRate; }

void AudioFileReader::setClientSampleRate(std::optional<double> rate)
{
    Impl &d = *impl_;
    if (rate && (!std::isfinite(*rate) || *rate < 1 || *rate > decodelimits::maximumSampleRate
                 || *rate != std::floor(*rate)))
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Setting the client sample rate"),
                             QStringLiteral("the rate must be a whole number of hertz"));
    const int fileRate = int(fileSampleRate());
    if (rate && int(*rate) != fileRate)
        d.converter = std::make_unique<SampleRateConverter>(d.channels, fileRate, int(*rate));
    else
        d.converter.reset();
    d.clientPosition = 0;
    readingSource(decodingText(), [&] { d.stream->seek(0); });
}

double AudioFileReader::processingSampleRate() const
{
    return impl_->converter ? impl_->converter->outputRate() : fileSampleRate();
}

int64_t AudioFileReader::length()
{
    Impl &d = *impl_;
    if (const auto known = d.stream->knownLength())
        return *known;
    const int64_t resume = position();
    const bool decoded = readingSource(decodingText(),
                                       [&] { return LengthCache::shared().count(d.file, d.opened, *d.stream, d.token); });
    if (decoded)
        d.seek(resume);
    return *d.stream->knownLength();
}

int64_t AudioFileReader::processingLength()
{
    const int64_t frames = length();
    return impl_->converter ? impl_->converter->outputFramesFor(frames) : frames;
}

int64_t AudioFileReader::position() const
{
    return impl_->converter ? impl_->clientPosition : impl_->stream->position();
}

void AudioFileReader::seek(int64_t frame)
{
    if (frame < 0)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Seeking in the audio file"));
    impl_->seek(frame);
}

int64_t AudioFileReader::readFloatPlanar(float *const *channels, int64_t maxFrames)
{
    SampleSink sink = impl_->sinkOf(SampleSink::Layout::floatPlanar);
    sink.planar = channels;
    return impl_->read(sink, maxFrames);
}

int64_t AudioFileReader::readFloatInterleaved(float *frames, int64_t maxFrames)
{
    SampleSink sink = impl_->sinkOf(SampleSink::Layout::floatInterleaved);
    sink.interleaved = frames;
    return impl_->read(sink, maxFrames);
}

int64_t AudioFileReader::readInt32Interleaved(int32_t *frames, int64_t maxFrames)
{
    SampleSink sink = impl_->sinkOf(SampleSink::Layout::int32Interleaved);
    sink.ints = frames;
    return impl_->read(sink, maxFrames);
}

std::optional<QList<QList<MediaTagReader::Tag>>> AudioFileReader::demuxerTags() const
{
    return impl_->stream->demuxerTags();
}

void AudioFileReader::setCancellationToken(CancellationToken token)
{
    impl_->token = token;
    impl_->stream->setCancellationToken(std::move(token));
}

} // namespace tampod
