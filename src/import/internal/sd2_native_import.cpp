#include "import/internal/sd2_native_import.h"

#include "import/internal/import_texts.h"
#include "library/sd2_identification.h"
#include "platform/decode/audio_file_reader.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"

#include <cmath>

namespace tampod::SD2NativeImport {

namespace {

bool fitsLinking(const AudioFileFormat &format)
{
    const int bits = format.bitsPerChannel;
    const double rate = format.sampleRate;
    return format.codec == AudioCodecKind::lpcm && !format.isFloat
           && (bits == 8 || bits == 16 || bits == 24 || bits == 32) && (format.channels == 1 || format.channels == 2)
           && std::isfinite(rate) && rate == std::floor(rate) && rate >= 8000 && rate <= 192000;
}

} // namespace

bool isSD2Container(const QUrl &)
{
    return false;
}

Result inspect(const QUrl &url, const ForkStore &forks)
{
    std::optional<SD2Metadata> read;
    std::optional<QString> note;
    try {
        read = SD2MetadataReader::read(url, forks);
    } catch (const SD2MetadataError &error) {
        note = ImportText::metadataNotValidated + QLatin1Char(' ') + error.message();
    } catch (const std::exception &) {
        note = ImportText::metadataNotValidated;
    }

    AudioFileFormat decoded;
    try {
        decoded = AudioFileReader(url.toLocalFile()).fileFormat();
    } catch (const std::exception &) {
        return {AudioSourceFormat{}, std::nullopt, ImportText::formatNotInspected};
    }
    const AudioSourceFormat format = AudioSourceFormat::fromFileFormat(decoded);
    if (!read && !SD2Identification::hasLegacyName(url) && !isSD2Container(url))
        return {format, std::nullopt, std::nullopt};
    if (!fitsLinking(decoded))
        return {format, std::nullopt, ImportText::outsideLinking};

    const SD2Metadata parameters{decoded.bitsPerChannel / 8, int(decoded.sampleRate), decoded.channels, std::nullopt,
                                 std::nullopt};
    if (!read)
        return {format, parameters, note};
    if (read->sampleBytes == parameters.sampleBytes && read->sampleRate == parameters.sampleRate
        && read->channels == parameters.channels)
        return {format, read, std::nullopt};
    return {format, parameters,
            ImportText::disagreesPrefix + format.summary() + QStringLiteral(", ") + QString::number(decoded.channels)
                + ImportText::disagreesSuffix};
}

} // namespace tampod::SD2NativeImport
