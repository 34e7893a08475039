#include "export/preview/internal/preview_channel_join.h"

#include "files/journal/audio_export_error.h"
#include "platform/encode/audio_file_writer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tampod::PreviewChannelJoin {

namespace {

constexpr std::int64_t chunkFrames = 8192;
constexpr int joinedBits = 24;
// A RIFF size field counts to 2^32 - 1, less the header around the data.
constexpr double largestJoinedData = 4294967251.0;

AudioFileReader open(const QString &path, const std::optional<AudioFileReader::RawPCMFormat> &raw,
                     const CancellationToken &token)
{
    return raw ? AudioFileReader(path, *raw, token) : AudioFileReader(path, token);
}

[[noreturn]] void fail(AudioExportError::Case reason)
{
    throw AudioExportError(reason);
}

} // namespace

void join(const QString &left, const QString &right, const std::optional<AudioFileReader::RawPCMFormat> &raw,
          const QString &destination, const CancellationToken &token)
{
    AudioFileReader readers[] = {open(left, raw, token), open(right, raw, token)};
    const std::int64_t length = readers[0].length();
    if (readers[0].channels() != 1 || readers[1].channels() != 1 ||
        readers[0].fileSampleRate() != readers[1].fileSampleRate() || length < 1 || readers[1].length() != length)
        fail(AudioExportError::Case::verificationFailed);
    if (double(joinedBits / 8) * double(length) * 2 >= largestJoinedData)
        fail(AudioExportError::Case::tooLarge);

    AudioWriteFormat format;
    format.type = AudioFileType::wav;
    format.sampleRate = int(readers[0].fileSampleRate());
    format.channels = 2;
    format.bitsPerChannel = joinedBits;
    AudioFileWriter writer(destination, format, token);
    std::vector<float> channels[2] = {std::vector<float>(chunkFrames), std::vector<float>(chunkFrames)};
    std::vector<float> stereo(2 * chunkFrames);
    for (std::int64_t written = 0; written < length;) {
        token.throwIfCancelled();
        const std::int64_t n = std::min(length - written, chunkFrames);
        for (int c = 0; c < 2; ++c)
            if (readers[c].readFloatInterleaved(channels[c].data(), n) != n)
                fail(AudioExportError::Case::verificationFailed);
        for (std::int64_t i = 0; i < n; ++i) {
            stereo[size_t(2 * i)] = channels[0][size_t(i)];
            stereo[size_t(2 * i + 1)] = channels[1][size_t(i)];
        }
        writer.writeInterleaved(stereo.data(), n);
        written += n;
    }
    token.throwIfCancelled();
    writer.finish();
}

} // namespace tampod::PreviewChannelJoin
