#include "core/file_system_call.h"
#include "platform/audio_file_error.h"
#include "platform/encode/internal/audio_encoder.h"
#include "platform/internal/pcm_conversion.h"

#include <sndfile.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tampod {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};

int subtype(const AudioWriteFormat &format)
{
    if (format.isFloat)
        return SF_FORMAT_FLOAT;
    switch (format.bitsPerChannel) {
    case 8: return format.type == AudioFileType::wav ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
    case 16: return SF_FORMAT_PCM_16;
    case 24: return SF_FORMAT_PCM_24;
    default: return SF_FORMAT_PCM_32;
    }
}

class SndfileEncoder final : public AudioEncoder {
public:
    SndfileEncoder(int fd, const AudioWriteFormat &format) : fd_(fd), format_(format)
    {
        SF_INFO info{};
        info.samplerate = format.sampleRate;
        info.channels = format.channels;
        const int container = format.type == AudioFileType::wav    ? SF_FORMAT_WAV
                              : format.type == AudioFileType::aiff ? SF_FORMAT_AIFF
                                                                   : SF_FORMAT_CAF;
        info.format = container | subtype(format)
                      | (format.type == AudioFileType::caf ? SF_ENDIAN_LITTLE : SF_ENDIAN_FILE);
        file_.reset(sf_open_virtual(&io, SFM_WRITE, &info, this));
        if (!file_)
            fail(sf_error(nullptr), QStringLiteral("Creating the audio file"));
        // Only the audio and the format: no peak chunk for readers to trip over.
        sf_command(file_.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    }

    void write(const float *interleaved, int64_t frames) override
    {
        const int64_t samples = frames * format_.channels;
        sf_count_t written;
        if (format_.isFloat) {
            written = sf_writef_float(file_.get(), interleaved, frames);
        } else {
            // Our own rounding, so libsndfile only narrows exact left-justified values.
            converted_.resize(size_t(samples));
            for (int64_t i = 0; i < samples; ++i)
                converted_[size_t(i)] = pcm::floatToLeftJustified(interleaved[i], format_.bitsPerChannel);
            written = sf_writef_int(file_.get(), converted_.data(), frames);
        }
        if (written != frames)
            fail(sf_error(file_.get()), QStringLiteral("Writing audio"));
    }

    void finish() override
    {
        SNDFILE *file = file_.release();
        sf_write_sync(file);
        const int status = sf_error(file);
        const int closed = sf_close(file);
        if (status != SF_ERR_NO_ERROR || closed != 0)
            fail(status != SF_ERR_NO_ERROR ? status : closed,
                 QStringLiteral("Finalizing the audio file"));
    }

private:
    // libsndfile writes through these, so every write is one the file layer's observer sees.
    static SndfileEncoder &self(void *user) { return *static_cast<SndfileEncoder *>(user); }
    static sf_count_t fileLength(void *user)
    {
        struct stat status {};
        return ::fstat(self(user).fd_, &status) == 0 ? sf_count_t(status.st_size) : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void *user)
    {
        const off_t position = ::lseek(self(user).fd_, off_t(offset), whence);
        if (position < 0)
            self(user).ioErrno_ = errno;
        return position;
    }
    static sf_count_t read(void *into, sf_count_t count, void *user)
    {
        for (;;) {
            const ssize_t n = ::read(self(user).fd_, into, size_t(count));
            if (!(n < 0 && errno == EINTR))
                return n;
        }
    }
    static sf_count_t write(const void *bytes, sf_count_t count, void *user)
    {
        const auto *from = static_cast<const char *>(bytes);
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t n = FileSystemCall::attempt(
                "write", [&] { return ::write(self(user).fd_, from + done, size_t(count - done)); });
            if (n <= 0) {
                self(user).ioErrno_ = n < 0 ? errno : EIO;
                return done > 0 ? done : n;
            }
            done += n;
        }
        return done;
    }
    static sf_count_t tell(void *user) { return ::lseek(self(user).fd_, 0, SEEK_CUR); }
    static inline SF_VIRTUAL_IO io{&fileLength, &seek, &read, &write, &tell};

    // libsndfile keeps no errno of a failed virtual write (its status stays 0): the file's
    // own failure is reported as the system error it was, like every other writer's.
    [[noreturn]] void fail(int status, const QString &operation) const
    {
        if (ioErrno_ != 0)
            throw SystemError(ioErrno_, operation);
        if (status == SF_ERR_NO_ERROR)
            status = SF_ERR_SYSTEM;
        throw AudioFileError(AudioFileError::Kind::io, status, operation,
                             QString::fromUtf8(sf_error_number(status)));
    }

    int fd_;
    int ioErrno_ = 0;
    AudioWriteFormat format_;
    std::unique_ptr<SNDFILE, SndfileCloser> file_;
    std::vector<int> converted_;
};

} // namespace

std::unique_ptr<AudioEncoder> makeSndfileEncoder(int fd, const AudioWriteFormat &format)
{
    return std::make_unique<SndfileEncoder>(fd, format);
}

} // namespace tampod
