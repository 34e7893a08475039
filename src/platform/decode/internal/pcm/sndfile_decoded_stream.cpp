#include "platform/decode/internal/pcm/sndfile_decoded_stream.h"

#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "platform/audio_file_error.h"

#include <libavutil/error.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace tampod {

namespace {

constexpr int64_t scratchFrames = 4096;

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};

bool sameCoding(int subtype, const AudioFileFormat &format)
{
    const int bits = format.bitsPerChannel;
    if (format.isFloat)
        return (subtype == SF_FORMAT_FLOAT && bits == 32) || (subtype == SF_FORMAT_DOUBLE && bits == 64);
    if (!format.isSignedInteger)
        return subtype == SF_FORMAT_PCM_U8 && bits == 8;
    return (subtype == SF_FORMAT_PCM_S8 && bits == 8) || (subtype == SF_FORMAT_PCM_16 && bits == 16)
           || (subtype == SF_FORMAT_PCM_24 && bits == 24) || (subtype == SF_FORMAT_PCM_32 && bits == 32);
}

// The file as libsndfile reads it: our reads at a position of its own, so the descriptor's
// offset stays the caller's and a read the system fails is known as such.
struct SourceBytes {
    int fd;
    int64_t size;
    int64_t position = 0;
    int readError = 0; // of the system, at the first read that failed

    static SourceBytes &of(void *data) { return *static_cast<SourceBytes *>(data); }
    static sf_count_t length(void *data) { return of(data).size; }
    static sf_count_t seek(sf_count_t offset, int whence, void *data)
    {
        SourceBytes &s = of(data);
        const int64_t base = whence == SEEK_CUR ? s.position : whence == SEEK_END ? s.size : 0;
        if (base + offset < 0)
            return -1;
        s.position = base + offset;
        return s.position;
    }
    static sf_count_t read(void *buffer, sf_count_t count, void *data)
    {
        SourceBytes &s = of(data);
        const ssize_t n = count <= 0 ? 0 : FileSystemCall::readAt(s.fd, buffer, size_t(count), s.position);
        if (n < 0) {
            if (s.readError == 0)
                s.readError = errno ? errno : EIO;
            return 0;
        }
        s.position += n;
        return n;
    }
    static sf_count_t write(const void *, sf_count_t, void *) { return 0; }
    static sf_count_t tell(void *data) { return of(data).position; }
};

class SndfileStream final : public DecodedStream {
public:
    SndfileStream(std::unique_ptr<SourceBytes> bytes, std::unique_ptr<SNDFILE, SndfileCloser> file,
                  const AudioFileFormat &format, int64_t length, CancellationToken token)
        : bytes_(std::move(bytes)), file_(std::move(file)), format_(format), length_(length), token_(std::move(token))
    {
    }

    const AudioFileFormat &format() const override { return format_; }
    std::optional<int64_t> knownLength() const override { return length_; }
    int64_t countLength() override { return length_; }
    int64_t position() const override { return position_; }
    void setCancellationToken(CancellationToken token) override { token_ = std::move(token); }

    void seek(int64_t frame) override
    {
        token_.throwIfCancelled();
        frame = std::min(frame, length_);
        if (frame == position_)
            return;
        if (sf_seek(file_.get(), frame, SEEK_SET) != frame)
            fail();
        position_ = frame;
    }

    int64_t read(const SampleSink &sink, int64_t maxFrames) override
    {
        token_.throwIfCancelled();
        const int64_t frames = std::min(maxFrames, length_ - position_);
        if (frames <= 0)
            return 0;
        int64_t done = 0;
        if (sink.layout == SampleSink::Layout::discard) {
            seek(position_ + frames);
            return frames;
        }
        // Integer samples come left-justified and floats as they are, so libsndfile's own
        // conversion is the one we would do; only the remaining layouts pass a scratch buffer.
        if (sink.layout == SampleSink::Layout::floatInterleaved)
            done = sf_readf_float(file_.get(), sink.interleaved + sink.offset * sink.channels, frames);
        else if (sink.layout == SampleSink::Layout::int32Interleaved && !format_.isFloat)
            done = sf_readf_int(file_.get(), sink.ints + sink.offset * sink.channels, frames);
        else
            done = readThroughScratch(sink, frames);
        position_ += std::max<int64_t>(done, 0);
        if (done != frames)
            fail();
        return done;
    }

private:
    // Integer samples are read as integers and floats as floats, so each is converted once.
    int64_t readThroughScratch(const SampleSink &sink, int64_t frames)
    {
        const size_t samples = size_t(std::min(frames, scratchFrames) * sink.channels);
        if (format_.isFloat)
            floats_.resize(samples);
        else
            ints_.resize(samples);
        int64_t done = 0;
        while (done < frames) {
            const int64_t ask = std::min(frames - done, scratchFrames);
            const int64_t got = format_.isFloat ? sf_readf_float(file_.get(), floats_.data(), ask)
                                                : sf_readf_int(file_.get(), ints_.data(), ask);
            if (got > 0 && format_.isFloat)
                deliverInterleaved(floats_.data(), got, sink.at(done));
            else if (got > 0)
                deliverInterleaved(ints_.data(), got, sink.at(done));
            if (got != ask)
                return done + std::max<int64_t>(got, 0);
            done += got;
        }
        return done;
    }

    [[noreturn]] void fail() const
    {
        token_.throwIfCancelled();
        if (bytes_->readError)
            failRead(bytes_->readError, decodingText());
        const int status = sf_error(file_.get());
        // Fewer frames than the header promised and no error: the file was cut short under us.
        if (status == SF_ERR_NO_ERROR)
            throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_EOF, decodingText(),
                                 QStringLiteral("the file ended early"));
        throw AudioFileError(AudioFileError::Kind::io, status, decodingText(),
                             QString::fromUtf8(sf_strerror(file_.get())));
    }

    std::unique_ptr<SourceBytes> bytes_; // read by file_: declared before it
    std::unique_ptr<SNDFILE, SndfileCloser> file_;
    const AudioFileFormat format_;
    const int64_t length_;
    CancellationToken token_;
    int64_t position_ = 0;
    std::vector<float> floats_;
    std::vector<int32_t> ints_;
};

} // namespace

std::unique_ptr<DecodedStream> openSndfileStream(const FileHandle &file, const AudioFileFormat &format,
                                                 int64_t length, CancellationToken token)
{
    const QString &container = format.container;
    if (format.codec != AudioCodecKind::lpcm
        || !(container == u"wav" || container == u"w64" || container == u"aiff" || container == u"caf"
             || container == u"au"))
        return nullptr;
    auto bytes = std::make_unique<SourceBytes>(SourceBytes{file.fd(), file.size()});
    SF_VIRTUAL_IO io{&SourceBytes::length, &SourceBytes::seek, &SourceBytes::read, &SourceBytes::write,
                     &SourceBytes::tell};
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> opened(sf_open_virtual(&io, SFM_READ, &info, bytes.get()));
    // libsndfile reads a failed read as bytes that are not there, and may then take the header
    // from the wrong place: the open fails as the read did.
    if (bytes->readError)
        failRead(bytes->readError, openingText());
    if (!opened || info.channels != format.channels || info.samplerate != format.sampleRate
        || info.frames != length || !info.seekable
        || !sameCoding(info.format & SF_FORMAT_SUBMASK, format))
        return nullptr;
    return std::make_unique<SndfileStream>(std::move(bytes), std::move(opened), format, length, std::move(token));
}

} // namespace tampod
