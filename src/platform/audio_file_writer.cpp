#include "platform/audio_file_writer.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/internal/audio_encoder.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace tampod {

namespace {

constexpr int maximumChannels = 64;

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
        throw AudioFileError(AudioFileError::Kind::invalidArgument, 0,
                             QStringLiteral("Creating the audio file"),
                             QStringLiteral("this format cannot be written"));
    // Creating never replaces: an existing file or link at the path is an error.
    FileHandle file = FileHandle::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    const struct stat status = file.status();
    device_ = status.st_dev;
    inode_ = status.st_ino;
    try {
        switch (format.type) {
        case AudioFileType::wav:
        case AudioFileType::aiff:
        case AudioFileType::caf:
            encoder_ = makeSndfileEncoder(file.fd(), format);
            break;
        case AudioFileType::flac:
            encoder_ = makeFlacEncoder(file.fd(), format);
            break;
        case AudioFileType::m4a:
            encoder_ = makeAacEncoder(file.fd(), format);
            break;
        }
    } catch (...) {
        encoder_.reset();
        file = FileHandle();
        discard();
        throw;
    }
    file_ = std::move(file);
}

AudioFileWriter::~AudioFileWriter()
{
    if (!finished_) {
        encoder_.reset();
        file_ = FileHandle();
        discard();
    }
}

int AudioFileWriter::bitRate() const noexcept
{
    return encoder_ ? encoder_->bitRate() : 0;
}

void AudioFileWriter::writeInterleaved(const float *frames, int64_t count)
{
    if (finished_ || !encoder_)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, 0,
                             QStringLiteral("Writing audio"),
                             QStringLiteral("the file is already closed"));
    token_.throwIfCancelled();
    if (count <= 0)
        return;
    encoder_->write(frames, count);
    framesWritten_ += count;
}

void AudioFileWriter::finish()
{
    if (finished_)
        return;
    try {
        if (!encoder_)
            throw AudioFileError(AudioFileError::Kind::invalidArgument, 0,
                                 QStringLiteral("Finalizing the audio file"));
        encoder_->finish();
        file_.close();
    } catch (...) {
        encoder_.reset();
        file_ = FileHandle();
        discard();
        throw;
    }
    finished_ = true;
}

void AudioFileWriter::discard() noexcept
{
    // Remove only the file this writer created, not one that took its place since.
    struct stat status {};
    const QByteArray native = QFile::encodeName(path_);
    if (::lstat(native.constData(), &status) == 0 && status.st_dev == device_
        && status.st_ino == inode_)
        ::unlink(native.constData());
}

} // namespace tampod
