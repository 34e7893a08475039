#include "platform/encode/audio_file_writer.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/encode/internal/audio_encoder.h"

#include <libavutil/error.h>
#include <fcntl.h>

namespace tampod {

namespace {

constexpr int maximumChannels = 64;
// Audio bytes a 32-bit RIFF or FORM size can carry, leaving room for the header chunks.
constexpr int64_t maximumChunkedBytes = 0xFFFFFFFFll - 4096;

bool isSupported(const AudioWriteFormat &f)
{
    if (f.channels < 1 || f.channels > maximumChannels || f.sampleRate < 1
        || f.sampleRate > 768000)
        return false;
    switch (f.type) {
    case AudioFileType::wav:
        return f.isFloat ? f.bitsPerChannel == 32
                         : (f.bitsPerChannel == 8 || f.bitsPerChannel == 16
                            || f.bitsPerChannel == 24 || f.bitsPerChannel == 32);
    case AudioFileType::aiff:
        return !f.isFloat
               && (f.bitsPerChannel == 8 || f.bitsPerChannel == 16 || f.bitsPerChannel == 24
                   || f.bitsPerChannel == 32);
    case AudioFileType::caf:
        return f.isFloat && f.bitsPerChannel == 32;
    case AudioFileType::flac:
        return !f.isFloat && (f.bitsPerChannel == 16 || f.bitsPerChannel == 24)
               && f.channels <= 8 && f.sampleRate <= 655350;
    case AudioFileType::m4a:
        return f.bitRate > 0 && f.channels <= 8;
    }
    return false;
}

} // namespace

AudioFileWriter::AudioFileWriter(const QString &path, const AudioWriteFormat &format,
                                 CancellationToken token)
    : format_(format), path_(path), token_(std::move(token))
{
    token_.throwIfCancelled();
    if (!isSupported(format))
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Creating the audio file"),
                             QStringLiteral("this format cannot be written"));
    // Creating never replaces: an existing file or link at the path is an error.
    ExclusiveFile file = ExclusiveFile::create(path, O_RDWR);
    const int fd = file.handle().fd();
    try {
        switch (format.type) {
        case AudioFileType::wav:
        case AudioFileType::aiff:
        case AudioFileType::caf:
            encoder_ = makeSndfileEncoder(fd, format);
            break;
        case AudioFileType::flac:
            encoder_ = makeFlacEncoder(fd, format);
            break;
        case AudioFileType::m4a:
            encoder_ = makeAacEncoder(fd, format);
            break;
        }
    } catch (...) {
        encoder_.reset();
        file.remove();
        throw;
    }
    file_ = std::move(file);
}

AudioFileWriter::~AudioFileWriter()
{
    if (!finished_) {
        encoder_.reset();
        file_.remove();
    }
}

int AudioFileWriter::bitRate() const noexcept
{
    return encoder_ ? encoder_->bitRate() : 0;
}

void AudioFileWriter::writeInterleaved(const float *frames, int64_t count)
{
    if (finished_ || !encoder_)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Writing audio"),
                             QStringLiteral("the file is already closed"));
    token_.throwIfCancelled();
    if (count <= 0)
        return;
    // RIFF and FORM sizes are 32-bit: refuse audio that would wrap them into a corrupt file.
    if (format_.type == AudioFileType::wav || format_.type == AudioFileType::aiff) {
        const int64_t bytesPerFrame = int64_t(format_.channels) * (format_.bitsPerChannel / 8);
        if (count > (maximumChunkedBytes - framesWritten_ * bytesPerFrame) / bytesPerFrame)
            throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EFBIG),
                                 QStringLiteral("Writing audio"),
                                 QStringLiteral("the file would exceed the 4 GB size limit"));
    }
    encoder_->write(frames, count);
    framesWritten_ += count;
}

void AudioFileWriter::finish()
{
    if (finished_)
        return;
    try {
        if (!encoder_)
            throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                                 QStringLiteral("Finalizing the audio file"));
        encoder_->finish();
        file_.handle().close();
    } catch (...) {
        encoder_.reset();
        file_.remove();
        throw;
    }
    finished_ = true;
}

} // namespace tampod
