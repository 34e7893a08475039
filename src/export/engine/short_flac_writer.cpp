#include "export/engine/short_flac_writer.h"

#include "core/exclusive_file.h"
#include "core/folder.h"
#include "export/export_defaults.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tampod::ShortFLACWriter {

namespace {

[[noreturn]] void refuse()
{
    throw AudioExportError(AudioExportError::Case::verificationFailed);
}

// The count low-order bytes of value, most significant first.
QByteArray bytes(std::uint64_t value, int count)
{
    QByteArray out(count, '\0');
    for (int i = count - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

} // namespace

std::optional<std::int32_t> exactInteger(float x, int bitDepth)
{
    const double scale = std::ldexp(1.0, bitDepth - 1);
    const double v = double(x) * scale;
    if (!std::isfinite(v) || v != std::floor(v) || v < -scale || v >= scale)
        return std::nullopt;
    return std::int32_t(v);
}

std::uint32_t crc(const QByteArray &data, int width, std::uint32_t polynomial)
{
    const std::uint32_t top = 1u << (width - 1);
    const std::uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    std::uint32_t value = 0;
    for (const char byte : data) {
        value ^= std::uint32_t(std::uint8_t(byte)) << (width - 8);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & top) ? ((value << 1) ^ polynomial) & mask : (value << 1) & mask;
    }
    return value;
}

QByteArray encode(const std::int32_t *samples, std::int64_t frames, int channels, int sampleRate, int bitDepth)
{
    const int sampleBytes = bitDepth / 8;
    const bool tensOfHertz = sampleRate >= 65536;
    QByteArray frame;
    frame += char(0xFF);
    frame += char(0xF8); // fixed-block-size stream
    frame += char(tensOfHertz ? 0x7E : 0x7D); // block size and rate follow the header
    frame += char((channels - 1) * 16 + (bitDepth == 16 ? 0x08 : 0x0C));
    frame += char(0x00); // frame number 0
    frame += bytes(std::uint64_t(frames - 1), 2);
    frame += bytes(std::uint64_t(tensOfHertz ? sampleRate / 10 : sampleRate), 2);
    frame += char(crc(frame, 8, 0x07));
    for (int c = 0; c < channels; ++c) {
        frame += char(0x02); // VERBATIM, no wasted bits
        for (std::int64_t i = 0; i < frames; ++i)
            frame += bytes(std::uint32_t(samples[i * channels + c]), sampleBytes);
    }
    frame += bytes(crc(frame, 16, 0x8005), 2);

    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray little(sampleBytes, '\0');
    for (std::int64_t i = 0; i < frames * channels; ++i) {
        std::uint32_t value = std::uint32_t(samples[i]);
        for (int b = 0; b < sampleBytes; ++b, value >>= 8)
            little[b] = char(value & 0xFF);
        md5.addData(little);
    }

    QByteArray info;
    info += bytes(4608, 2) + bytes(4608, 2); // the one frame is the last, so it may be shorter
    info += bytes(std::uint64_t(frame.size()), 3) + bytes(std::uint64_t(frame.size()), 3);
    const std::uint64_t packed = (std::uint64_t(sampleRate) << 44) | (std::uint64_t(channels - 1) << 41) |
                                 (std::uint64_t(bitDepth - 1) << 36) | std::uint64_t(frames);
    info += bytes(packed, 8);
    info += md5.result();

    return QByteArray("fLaC") + bytes(0x80000022, 4) + info + frame;
}

void write(const QString &source, const QString &destination, int bitDepth, const CancellationToken &token)
{
    AudioFileReader reader(source, token);
    const std::int64_t frames = reader.length();
    const int channels = reader.channels();
    const AudioFileFormat &format = reader.fileFormat();
    const auto &rates = ExportDefaults::sampleRates();
    const bool knownRate = std::find(rates.begin(), rates.end(), std::int64_t(format.sampleRate)) != rates.end() &&
                           format.sampleRate == std::floor(format.sampleRate);
    if (frames < 1 || frames > maximumFrames || channels < 1 || channels > 2 || (bitDepth != 16 && bitDepth != 24) ||
        format.codec != AudioCodecKind::lpcm || format.isFloat || format.bitsPerChannel != bitDepth || !knownRate)
        refuse();

    std::vector<float> planar(size_t(frames * channels));
    float *channelStarts[2] = {planar.data(), planar.data() + frames};
    std::int64_t read = 0;
    while (read < frames) {
        float *at[2] = {channelStarts[0] + read, channelStarts[1] + read};
        const std::int64_t n = reader.readFloatPlanar(at, frames - read);
        if (n == 0)
            break;
        read += n;
    }
    if (read != frames)
        refuse();
    token.throwIfCancelled();

    // The render is integer PCM, so every sample converts exactly; anything else is refused.
    std::vector<std::int32_t> samples(size_t(frames * channels));
    for (int c = 0; c < channels; ++c) {
        for (std::int64_t i = 0; i < frames; ++i) {
            const auto value = exactInteger(channelStarts[c][i], bitDepth);
            if (!value)
                refuse();
            samples[size_t(i * channels + c)] = *value;
        }
    }
    const QByteArray file = encode(samples.data(), frames, channels, int(format.sampleRate), bitDepth);

    ExclusiveFile output = ExclusiveFile::create(destination, O_WRONLY);
    try {
        output.handle().writeAll(file);
        output.handle().close();
    } catch (...) {
        output.remove();
        throw;
    }
}

} // namespace tampod::ShortFLACWriter
