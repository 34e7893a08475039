#include "export/engine/export_verification.h"

#include "export/internal/export_staging.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/raw_pcm_reader.h"
#include "sd2/sd2_metadata_reader.h"

#include <cmath>
#include <optional>

namespace tampod::ExportVerification {

namespace {

bool within(std::int64_t length, double frames, double tolerance)
{
    return length >= 1 && std::abs(double(length) - frames) <= tolerance;
}

} // namespace

std::int64_t verifyPCM(const QString &path, const PCMOutputFormat &expected, double frames, double tolerance,
                       const ForkStore &forks, const CancellationToken &token)
{
    if (expected.container == ExportFormat::sd2) {
        const auto metadata = SD2MetadataReader::read(QUrl::fromLocalFile(path), forks);
        if (!metadata)
            throw AudioExportError(AudioExportError::Case::verificationFailed);
        RawPCMReader::Description stream;
        ExportFailure::step(QStringLiteral("verifying output"), [&] {
            stream = RawPCMReader::read(path, metadata->sampleRate, metadata->channels, 8 * metadata->sampleBytes, token);
        });
        if (!within(stream.frames, frames, tolerance) || stream.sampleRate != expected.sampleRate ||
            stream.channels != expected.channels || stream.bitsPerSample != expected.bits)
            throw AudioExportError(AudioExportError::Case::verificationFailed);
        return stream.frames;
    }

    std::optional<AudioFileReader> reader;
    ExportFailure::step(QStringLiteral("verifying output"), [&] { reader.emplace(path, token); });
    std::int64_t length = 0;
    ExportFailure::step(QStringLiteral("reading audio properties"), [&] { length = reader->length(); });
    const AudioFileFormat &format = reader->fileFormat();
    const QString container = expected.container == ExportFormat::wav ? QStringLiteral("wav") : QStringLiteral("aiff");
    const bool passes = within(length, frames, tolerance) &&
                        format.codec == AudioCodecKind::lpcm && format.container == container &&
                        format.sampleRate == expected.sampleRate && format.channels == expected.channels &&
                        format.bitsPerChannel == expected.bits && format.isSignedInteger == expected.isSigned() &&
                        !format.isFloat;
    if (!passes)
        throw AudioExportError(AudioExportError::Case::verificationFailed);
    return length;
}

} // namespace tampod::ExportVerification
