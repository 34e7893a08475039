#include "platform/encode/wav_integer_writer.h"

#include "core/byte_reader.h"
#include "platform/audio_file_error.h"

#include <libavutil/error.h>
#include <fcntl.h>

namespace tampod {

WavIntegerWriter::WavIntegerWriter(const QString &path, int sampleRate, int channels,
                                   int bitsPerSample, CancellationToken token)
    : path_(path), token_(std::move(token)), sampleRate_(sampleRate), channels_(channels),
      bits_(bitsPerSample), bytesPerFrame_(int64_t(channels) * (bitsPerSample / 8))
{
    token_.throwIfCancelled();
    const bool valid = (bits_ == 8 || bits_ == 16 || bits_ == 24 || bits_ == 32)
                       && channels_ >= 1 && channels_ <= 64 && sampleRate_ >= 1;
    if (!valid)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Creating the audio file"),
                             QStringLiteral("this format cannot be written"));
    file_ = ExclusiveFile::create(path, O_WRONLY);
    try {
        file_.handle().writeAll(header());
    } catch (...) {
        file_.remove();
        throw;
    }
}

WavIntegerWriter::~WavIntegerWriter()
{
    if (!finished_)
        file_.remove();
}

QByteArray WavIntegerWriter::header() const
{
    const uint32_t pad = uint32_t(dataBytes_ & 1);
    ByteWriter w;
    w.bytes("RIFF").u32le(uint32_t(36 + dataBytes_ + pad)).bytes("WAVE");
    w.bytes("fmt ").u32le(16).u16le(1).u16le(uint16_t(channels_)).u32le(uint32_t(sampleRate_));
    w.u32le(uint32_t(int64_t(sampleRate_) * bytesPerFrame_)).u16le(uint16_t(bytesPerFrame_));
    w.u16le(uint16_t(bits_));
    w.bytes("data").u32le(uint32_t(dataBytes_));
    return w.take();
}

void WavIntegerWriter::writeInt32Interleaved(const int32_t *samples, int64_t frames)
{
    if (finished_ || !file_.handle().isOpen())
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                             QStringLiteral("Writing audio"),
                             QStringLiteral("the file is already closed"));
    token_.throwIfCancelled();
    if (frames <= 0)
        return;
    if (frames > (maximumDataBytes - dataBytes_) / bytesPerFrame_)
        throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EFBIG),
                             QStringLiteral("Writing audio"),
                             QStringLiteral("the file would exceed the WAVE size limit"));
    const int bytes = bits_ / 8;
    const int shift = 32 - bits_;
    const int64_t count = frames * channels_;
    buffer_.resize(qsizetype(count * bytes));
    auto *out = reinterpret_cast<uint8_t *>(buffer_.data());
    for (int64_t i = 0; i < count; ++i) {
        uint32_t v = uint32_t(samples[i]) >> shift;
        if (bits_ == 8)
            v ^= 0x80; // 8-bit WAVE is offset binary
        for (int b = 0; b < bytes; ++b)
            *out++ = uint8_t(v >> (8 * b));
    }
    try {
        file_.handle().writeAll(buffer_);
    } catch (...) {
        file_.remove();
        throw;
    }
    dataBytes_ += count * bytes;
}

void WavIntegerWriter::finish()
{
    if (finished_)
        return;
    try {
        if (!file_.handle().isOpen())
            throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL),
                                 QStringLiteral("Finalizing the audio file"));
        if (dataBytes_ & 1)
            file_.handle().writeAll(QByteArray(1, '\0'));
        file_.handle().pwriteAll(0, header());
        file_.handle().close();
    } catch (...) {
        file_.remove();
        throw;
    }
    finished_ = true;
}

} // namespace tampod
