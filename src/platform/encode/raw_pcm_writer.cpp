#include "platform/encode/raw_pcm_writer.h"

#include "platform/audio_file_error.h"
#include "platform/internal/pcm_conversion.h"

#include <libavutil/error.h>
#include <fcntl.h>
#include <type_traits>

namespace tampod {

namespace {

template <typename Sample>
void packBigEndian(const Sample *samples, std::int64_t count, int bits, char *out)
{
    const int bytes = bits / 8;
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint32_t v;
        if constexpr (std::is_same_v<Sample, float>)
            v = std::uint32_t(pcm::floatToInt(samples[i], bits));
        else
            v = std::uint32_t(samples[i]) >> (32 - bits);
        for (int b = bytes - 1; b >= 0; --b)
            *out++ = char((v >> (8 * b)) & 0xFF);
    }
}

} // namespace

RawPCMWriter::RawPCMWriter(const QString &path, int channels, int bitsPerSample, CancellationToken token)
    : token_(std::move(token)), channels_(channels), bits_(bitsPerSample)
{
    token_.throwIfCancelled();
    if ((bits_ != 8 && bits_ != 16 && bits_ != 24 && bits_ != 32) || channels_ < 1 || channels_ > 64)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), QStringLiteral("Creating the audio file"),
                             QStringLiteral("this format cannot be written"));
    file_ = ExclusiveFile::create(path, O_WRONLY);
}

RawPCMWriter::~RawPCMWriter()
{
    if (!finished_)
        file_.remove();
}

void RawPCMWriter::writeInterleaved(const float *frames, std::int64_t count)
{
    token_.throwIfCancelled();
    buffer_.resize(qsizetype(count * channels_ * (bits_ / 8)));
    packBigEndian(frames, count * channels_, bits_, buffer_.data());
    writeBuffer();
}

void RawPCMWriter::writeInt32Interleaved(const std::int32_t *samples, std::int64_t count)
{
    token_.throwIfCancelled();
    buffer_.resize(qsizetype(count * channels_ * (bits_ / 8)));
    packBigEndian(samples, count * channels_, bits_, buffer_.data());
    writeBuffer();
}

void RawPCMWriter::writeBuffer()
{
    if (finished_ || !file_.handle().isOpen())
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), QStringLiteral("Writing audio"),
                             QStringLiteral("the file is already closed"));
    try {
        file_.handle().writeAll(buffer_);
    } catch (...) {
        file_.remove();
        throw;
    }
}

void RawPCMWriter::finish()
{
    if (finished_)
        return;
    try {
        file_.handle().close();
    } catch (...) {
        file_.remove();
        throw;
    }
    finished_ = true;
}

} // namespace tampod
