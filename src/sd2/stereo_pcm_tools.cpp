#include "sd2/stereo_pcm_tools.h"

#include "core/file_handle.h"
#include "core/number_text.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/wav_integer_writer.h"
#include "sd2/sd2_recovery_error.h"

#include <memory>
#include <new>
#include <vector>

namespace tampod::StereoPCMTools {

namespace {

AudioExportError invalidOutput()
{
    return AudioExportError::invalidSettings(QStringLiteral("Invalid working-copy format or destination."));
}

// What tells that an input changed while it was read: its size and nanosecond modification time.
struct Stamp {
    qint64 size = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;

    bool operator==(const Stamp &) const = default;

    static Stamp of(const QString &path)
    {
        const struct stat status = FileHandle::openOutside(path).status();
        return {qint64(status.st_size), qint64(status.st_mtim.tv_sec), qint64(status.st_mtim.tv_nsec)};
    }
};

bool supportedBits(int bits)
{
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A new WAVE file at destination; refused with the invalid-output sentence when bits is not a
// whole-byte depth we write or something (a file, a folder, a link) is already there.
std::unique_ptr<WavIntegerWriter> output(const QUrl &destination, int rate, int channels, int bits,
                                         const CancellationToken &token)
{
    const QString path = destination.isLocalFile() ? destination.toLocalFile() : QString();
    if (!supportedBits(bits) || path.isEmpty() || statusOf(path, LinkPolicy::NoFollow))
        throw invalidOutput();
    return std::make_unique<WavIntegerWriter>(path, rate, channels, bits, token);
}

// Three buffers of one chunk each, allocated once per call.
struct Buffers {
    std::vector<std::int32_t> first, second, stereo;

    Buffers()
    {
        try {
            first.resize(size_t(chunkFrames));
            second.resize(size_t(chunkFrames));
            stereo.resize(size_t(chunkFrames) * 2);
        } catch (const std::bad_alloc &) {
            throw AudioExportError(AudioExportError::Case::storage);
        }
    }
};

// Exactly frames frames, or the verification error: a file that delivers less than its length
// promised is not what was checked.
void readExactly(AudioFileReader &reader, std::int32_t *into, std::int64_t frames, int channels)
{
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t n = reader.readInt32Interleaved(into + done * channels, frames - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done != frames)
        throw AudioExportError(AudioExportError::Case::verificationFailed);
}

int wholeRate(double rate)
{
    const auto whole = NumberText::toInt32(rate);
    if (!whole || *whole < 1 || double(*whole) != rate)
        throw AudioExportError(AudioExportError::Case::unsupportedSource);
    return *whole;
}

} // namespace

bool fitsSizeLimit(int bits, std::int64_t frames)
{
    const std::int64_t frameBytes = std::int64_t(bits / 8) * 2;
    return frames >= 0 && (frameBytes == 0 || frames <= WavIntegerWriter::maximumDataBytes / frameBytes);
}

Result join(const QUrl &left, const QUrl &right, const QUrl &destination, int bits, const Progress &progress,
            const CancellationToken &token)
{
    const QString leftPath = left.toLocalFile(), rightPath = right.toLocalFile();
    AudioFileReader leftReader(leftPath, token);
    AudioFileReader rightReader(rightPath, token);

    const std::int64_t length = leftReader.length();
    if (leftReader.channels() != 1 || rightReader.channels() != 1 ||
        leftReader.fileSampleRate() != rightReader.fileSampleRate() || length != rightReader.length() || length < 1)
        throw AudioExportError::invalidSettings(
            QStringLiteral("Left and right must be mono with identical sample rates and frame counts. No trimming, "
                           "padding or alignment was applied."));
    // An unsupported depth is the output's refusal below, not the inputs' fault.
    if (supportedBits(bits)) {
        for (const AudioFileReader *reader : {&leftReader, &rightReader}) {
            const AudioFileFormat &format = reader->fileFormat();
            if (format.codec != AudioCodecKind::lpcm || format.isFloat || format.bitsPerChannel != bits)
                throw AudioExportError::invalidSettings(
                    QStringLiteral("The decoded channel depths no longer match the accepted SD2 format. Reopen "
                                   "both files before linking."));
        }
    }

    const Stamp leftBefore = Stamp::of(leftPath), rightBefore = Stamp::of(rightPath);
    if (!fitsSizeLimit(bits, length))
        throw AudioExportError(AudioExportError::Case::tooLarge);
    const int rate = wholeRate(leftReader.fileSampleRate());
    const auto writer = output(destination, rate, 2, bits, token);
    Buffers buffers;

    std::int64_t written = 0;
    while (written < length) {
        token.throwIfCancelled();
        const std::int64_t n = std::min(length - written, chunkFrames);
        readExactly(leftReader, buffers.first.data(), n, 1);
        readExactly(rightReader, buffers.second.data(), n, 1);
        for (std::int64_t i = 0; i < n; ++i) {
            buffers.stereo[size_t(2 * i)] = buffers.first[size_t(i)];
            buffers.stereo[size_t(2 * i + 1)] = buffers.second[size_t(i)];
        }
        writer->writeInt32Interleaved(buffers.stereo.data(), n);
        written += n;
        if (progress)
            progress(double(written) / double(length));
    }
    if (Stamp::of(leftPath) != leftBefore || Stamp::of(rightPath) != rightBefore)
        throw SD2RecoveryError::changed();
    token.throwIfCancelled();
    writer->finish(); // until here, a failure removes the unfinished file
    return Result{written, rate};
}

void split(const QUrl &source, const QUrl &left, const QUrl &right, int bits, const CancellationToken &token)
{
    AudioFileReader reader(source.toLocalFile(), token);
    const std::int64_t length = reader.length();
    if (reader.channels() != 2 || length < 1)
        throw AudioExportError(AudioExportError::Case::unsupportedSource);
    const int rate = wholeRate(reader.fileSampleRate());
    const auto leftWriter = output(left, rate, 1, bits, token);
    const auto rightWriter = output(right, rate, 1, bits, token);
    Buffers buffers;

    std::int64_t done = 0;
    while (done < length) {
        token.throwIfCancelled();
        const std::int64_t n = std::min(length - done, chunkFrames);
        readExactly(reader, buffers.stereo.data(), n, 2);
        for (std::int64_t i = 0; i < n; ++i) {
            buffers.first[size_t(i)] = buffers.stereo[size_t(2 * i)];
            buffers.second[size_t(i)] = buffers.stereo[size_t(2 * i + 1)];
        }
        leftWriter->writeInt32Interleaved(buffers.first.data(), n);
        rightWriter->writeInt32Interleaved(buffers.second.data(), n);
        done += n;
    }
    token.throwIfCancelled();
    leftWriter->finish();
    rightWriter->finish();
}

} // namespace tampod::StereoPCMTools
