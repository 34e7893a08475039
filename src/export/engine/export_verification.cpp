#include "export/engine/export_verification.h"

#include "export/internal/export_staging.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"

#include <cmath>
#include <optional>

namespace tampod::ExportVerification {

std::int64_t verifyPCM(const QString &path, const PCMOutputFormat &expected, double frames, double tolerance,
                       const CancellationToken &token)
{
    std::optional<AudioFileReader> reader;
    ExportFailure::step(QStringLiteral("verifying output"), [&] { reader.emplace(path, token); });
    std::int64_t length = 0;
    ExportFailure::step(QStringLiteral("reading audio properties"), [&] { length = reader->length(); });
    const AudioFileFormat &format = reader->fileFormat();
    const QString container = expected.container == ExportFormat::wav ? QStringLiteral("wav") : QStringLiteral("aiff");
    const bool passes = length >= 1 && std::abs(double(length) - frames) <= tolerance &&
                        format.codec == AudioCodecKind::lpcm && format.container == container &&
                        format.sampleRate == expected.sampleRate && format.channels == expected.channels &&
                        format.bitsPerChannel == expected.bits && format.isSignedInteger == expected.isSigned() &&
                        !format.isFloat;
    if (!passes)
        throw AudioExportError(AudioExportError::Case::verificationFailed);
    return length;
}

} // namespace tampod::ExportVerification
