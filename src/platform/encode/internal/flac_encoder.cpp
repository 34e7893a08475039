#include "core/file_system_call.h"
#include "platform/audio_file_error.h"
#include "platform/encode/internal/audio_encoder.h"
#include "platform/internal/pcm_conversion.h"

#include <FLAC/stream_encoder.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace tampod {

namespace {

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder *encoder) const { FLAC__stream_encoder_delete(encoder); }
};

class FlacEncoder final : public AudioEncoder {
public:
    FlacEncoder(int fd, const AudioWriteFormat &format) : fd_(fd), format_(format)
    {
        encoder_.reset(FLAC__stream_encoder_new());
        if (!encoder_)
            throw AudioFileError(AudioFileError::Kind::codec, int(FLAC__STREAM_ENCODER_MEMORY_ALLOCATION_ERROR),
                                 QStringLiteral("Preparing the FLAC encoder"));
        FLAC__StreamEncoder *e = encoder_.get();
        const bool configured =
            FLAC__stream_encoder_set_channels(e, unsigned(format.channels))
            && FLAC__stream_encoder_set_bits_per_sample(e, unsigned(format.bitsPerChannel))
            && FLAC__stream_encoder_set_sample_rate(e, unsigned(format.sampleRate))
            && FLAC__stream_encoder_set_compression_level(e, 5); // libFLAC always computes MD5
        if (!configured)
            fail(QStringLiteral("Preparing the FLAC encoder"));
        // With seek and tell the encoder rewrites STREAMINFO at the end: exact total samples
        // and the MD5 of the audio.
        const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
            e, &FlacEncoder::writeCallback, &FlacEncoder::seekCallback,
            &FlacEncoder::tellCallback, nullptr, this);
        if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
            throw AudioFileError(AudioFileError::Kind::codec, int(status),
                                 QStringLiteral("Preparing the FLAC encoder"),
                                 QString::fromLatin1(FLAC__StreamEncoderInitStatusString[status]));
    }

    void write(const float *interleaved, int64_t frames) override
    {
        constexpr int64_t chunk = 8192;
        while (frames > 0) {
            const int64_t n = std::min(frames, chunk);
            const int64_t samples = n * format_.channels;
            converted_.resize(size_t(samples));
            for (int64_t i = 0; i < samples; ++i)
                converted_[size_t(i)] = pcm::floatToInt(interleaved[i], format_.bitsPerChannel);
            if (!FLAC__stream_encoder_process_interleaved(encoder_.get(), converted_.data(),
                                                          unsigned(n)))
                fail(QStringLiteral("Encoding audio"));
            interleaved += samples;
            frames -= n;
        }
    }

    void finish() override
    {
        if (!FLAC__stream_encoder_finish(encoder_.get()))
            fail(QStringLiteral("Finalizing encoded audio"));
    }

private:
    [[noreturn]] void fail(const QString &operation)
    {
        const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder_.get());
        if (state == FLAC__STREAM_ENCODER_CLIENT_ERROR && ioErrno_ != 0)
            throw SystemError(ioErrno_, operation);
        throw AudioFileError(AudioFileError::Kind::codec, int(state), operation,
                             QString::fromLatin1(FLAC__StreamEncoderStateString[state]));
    }

    static FLAC__StreamEncoderWriteStatus writeCallback(const FLAC__StreamEncoder *,
                                                        const FLAC__byte buffer[], size_t bytes,
                                                        uint32_t, uint32_t, void *client)
    {
        auto *self = static_cast<FlacEncoder *>(client);
        while (bytes > 0) {
            const ssize_t n =
                FileSystemCall::attempt("write", [&] { return ::write(self->fd_, buffer, bytes); });
            if (n <= 0) {
                self->ioErrno_ = n < 0 ? errno : EIO;
                return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
            }
            buffer += n;
            bytes -= size_t(n);
        }
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }

    static FLAC__StreamEncoderSeekStatus seekCallback(const FLAC__StreamEncoder *,
                                                      FLAC__uint64 offset, void *client)
    {
        auto *self = static_cast<FlacEncoder *>(client);
        if (::lseek(self->fd_, off_t(offset), SEEK_SET) < 0) {
            self->ioErrno_ = errno;
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }

    static FLAC__StreamEncoderTellStatus tellCallback(const FLAC__StreamEncoder *,
                                                      FLAC__uint64 *offset, void *client)
    {
        auto *self = static_cast<FlacEncoder *>(client);
        const off_t position = ::lseek(self->fd_, 0, SEEK_CUR);
        if (position < 0) {
            self->ioErrno_ = errno;
            return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
        }
        *offset = FLAC__uint64(position);
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    int fd_;
    int ioErrno_ = 0;
    AudioWriteFormat format_;
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder_;
    std::vector<FLAC__int32> converted_;
};

} // namespace

std::unique_ptr<AudioEncoder> makeFlacEncoder(int fd, const AudioWriteFormat &format)
{
    return std::make_unique<FlacEncoder>(fd, format);
}

} // namespace tampod
