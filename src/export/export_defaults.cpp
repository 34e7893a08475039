#include "export/export_defaults.h"

#include "core/number_text.h"
#include "export/export_option_catalog.h"
#include "export/internal/json_cases.h"

#include <algorithm>

namespace tampod {

using StrictJson::Json;
using F = ExportFormat;

namespace {

template <typename T, typename U>
bool contains(const std::vector<T> &values, const U &value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

bool isIntegerPCMFormat(ExportFormat format)
{
    return format == F::wav || format == F::aiff || format == F::flac || format == F::sd2;
}

// The quality range of a codec's variable bit rate.
bool isQualityInRange(ExportFormat format, std::int64_t quality)
{
    switch (format) {
    case F::mp3:
        return quality >= 0 && quality <= 9;
    case F::wma:
        return quality >= 0 && quality <= 100;
    case F::oggVorbis:
        return quality >= -1 && quality <= 10;
    default:
        return quality >= 0 && quality <= 127;
    }
}

// A stored choice the format does not offer, where the format offers exactly one, is read as
// that one: settings kept from before a format narrowed its choices still export, and the form
// never shows the one choice selected while refusing it.
EncodingOptions asOffered(ExportFormat format, EncodingOptions options, std::int64_t sampleRate)
{
    const auto onlyOffered = [](auto &value, const auto &offered) {
        if (offered.size() == 1 && !contains(offered, value))
            value = offered.front();
    };
    onlyOffered(options.rateMode, ExportOptionCatalog::rateModes(format));
    onlyOffered(options.bitRateKbps, ExportOptionCatalog::bitRates(format, options, sampleRate));
    return options;
}

QString whole(std::int64_t value)
{
    return NumberText::wholeQ(value);
}

} // namespace

const std::vector<std::int64_t> &ExportDefaults::bitDepths()
{
    static const std::vector<std::int64_t> depths{8, 16, 24};
    return depths;
}

const std::vector<std::int64_t> &ExportDefaults::sampleRates()
{
    static const std::vector<std::int64_t> rates{8000,  11025, 12000, 16000,  22050,  24000, 32000,
                                                 44100, 48000, 88200, 96000, 176400, 192000};
    return rates;
}

std::vector<std::int64_t> ExportDefaults::availableBitDepths() const
{
    if (format == F::wav)
        return bitDepths();
    return {16, 24};
}

EncodingOptions ExportDefaults::options() const
{
    const auto entry = encodingByFormat.find(ExportFormats::rawValue(format));
    return entry != encodingByFormat.end() ? asOffered(format, entry->second, sampleRate)
                                           : EncodingOptions::initial(format);
}

bool ExportDefaults::supportsClipping() const
{
    const bool output = (isIntegerPCMFormat(format) && contains(availableBitDepths(), bitDepth)) || format == F::m4aAAC;
    return output && options().sampleEncoding == SampleEncoding::integer;
}

bool ExportDefaults::supportsLoFi() const
{
    const bool output = (isIntegerPCMFormat(format) && (bitDepth == 16 || bitDepth == 24)) || format == F::m4aAAC;
    return output && options().sampleEncoding == SampleEncoding::integer;
}

bool ExportDefaults::hasAudioTreatment() const
{
    return loFi != LoFiTreatment::off || clippingDB != 0 ||
           (vinyl.enabled && (vinyl.amount > 0 || (vinyl.humEnabled && vinyl.humAmount > 0)));
}

QStringList ExportDefaults::validationIssues() const
{
    namespace Catalog = ExportOptionCatalog;
    const EncodingOptions options = this->options();
    QStringList issues;
    const auto isLevel = [](std::int64_t value) { return value >= 0 && value <= 100; };
    if (!isLevel(vinyl.amount) || !isLevel(vinyl.humAmount))
        issues << QStringLiteral("Choose Vinyl amounts from 0 to 100%.");
    if (vinyl.enabled && !supportsClipping())
        issues << QStringLiteral("Vinyl requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those "
                                 "options or turn Vinyl off.");
    if (clippingDB < 0 || clippingDB > 12)
        issues << QStringLiteral("Choose clipping Off or a drive amount from +1 to +12 dB.");
    if (clippingDB != 0 && !supportsClipping())
        issues << QStringLiteral("Clipping requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those "
                                 "options or turn clipping Off.");
    if (Catalog::usesBitDepth(format, options) && !contains(availableBitDepths(), bitDepth))
        issues << QStringLiteral("Choose a supported bit depth. 8-bit file storage is available only for WAV.");
    if (loFi != LoFiTreatment::off && !supportsLoFi())
        issues << QStringLiteral("Lo-fi treatment requires 16/24-bit WAV, AIFF, FLAC or SD2, or AAC output. "
                                 "Choose those options or turn treatment Off.");
    if (!ExportFormats::isInCurrentScope(format))
        issues << ExportFormats::title(format) +
                      QStringLiteral(" output is unavailable. Your saved choice is retained; choose WAV, AIFF, "
                                     "FLAC, M4A — AAC or SD2 to continue.");
    if (!contains(Catalog::sampleRates(format, options), sampleRate))
        issues << QStringLiteral("Choose a sample rate offered for this format/profile; the saved rate was "
                                 "retained.");
    if (!contains(Catalog::sampleEncodings(format), options.sampleEncoding))
        issues << title(options.sampleEncoding) +
                      QStringLiteral(" output is unavailable. Your saved choice is retained; choose Integer PCM "
                                     "to continue.");
    if ((format == F::m4aAAC || format == F::aac) && options.aacProfile == AACProfile::heV2 &&
        options.channels == ExportChannels::mono)
        issues << QStringLiteral("HE-AAC v2 requires stereo; choose Stereo or another AAC profile.");
    if (Catalog::hasRateControl(format, options)) {
        if (!contains(Catalog::rateModes(format), options.rateMode))
            issues << QStringLiteral("Choose a supported rate-control preference.");
        if (options.rateMode == BitRateMode::variable) {
            if (!isQualityInRange(format, options.quality))
                issues << QStringLiteral("Choose a quality value within this codec's range.");
        } else if (!contains(Catalog::bitRates(format, options, sampleRate), options.bitRateKbps)) {
            issues << QStringLiteral("Choose a bitrate offered for this format/profile; the previous target was "
                                     "retained.");
        }
    }
    if (format == F::flac && options.compressionLevel != 5)
        issues << QStringLiteral("FLAC uses native automatic compression. Select Automatic; the saved numeric "
                                 "preference is retained until you change it.");
    if (format == F::m4aAAC && (options.aacProfile != AACProfile::lc || options.rateMode != BitRateMode::constant))
        issues << QStringLiteral("AAC export currently supports AAC-LC with average bitrate. Select those "
                                 "options.");
    if (format == F::ac3 && (options.dialogueLevel < -31 || options.dialogueLevel > -1))
        issues << QStringLiteral("Dialogue level must be −31…−1 dB.");
    return issues;
}

QString ExportDefaults::diagnosticSummary() const
{
    const EncodingOptions options = this->options();
    QStringList parts;
    parts << ExportFormats::title(format) << whole(sampleRate) + QStringLiteral(" Hz")
          << RawValue::text(options.channels);
    switch (loFi) {
    case LoFiTreatment::off:
        parts << QStringLiteral("lo-fi off");
        break;
    case LoFiTreatment::eightBit:
        parts << QStringLiteral("lo-fi 8-bit");
        break;
    case LoFiTreatment::twelveBit:
        parts << QStringLiteral("lo-fi 12-bit");
        break;
    }
    parts << (clippingDB == 0 ? QStringLiteral("clipping drive off")
                              : QStringLiteral("clipping drive +") + whole(clippingDB) + QStringLiteral(" dB"));
    parts << vinyl.summary();
    if (ExportOptionCatalog::usesBitDepth(format, options))
        parts << whole(bitDepth) + QStringLiteral("-bit integer");
    if (format == F::wav || format == F::au) {
        const bool unsignedBytes =
            format == F::wav && bitDepth == 8 && options.sampleEncoding == SampleEncoding::integer;
        parts << (unsignedBytes ? QStringLiteral("Unsigned integer PCM") : RawValue::text(options.sampleEncoding));
    }
    if (format == F::wma)
        parts << RawValue::text(options.wmaProfile);
    if (format == F::m4aAAC || format == F::aac)
        parts << RawValue::text(options.aacProfile);
    if (ExportOptionCatalog::hasRateControl(format, options)) {
        parts << ExportOptionCatalog::rateModeTitle(format, options.rateMode);
        parts << (options.rateMode == BitRateMode::variable ? QStringLiteral("quality ") + whole(options.quality)
                                                            : whole(options.bitRateKbps) + QStringLiteral(" kbps"));
    }
    if (format == F::ac3)
        parts << QStringLiteral("dialnorm ") + whole(options.dialogueLevel) + QStringLiteral(" dB");
    if (format == F::ape)
        parts << RawValue::text(options.apeCompression);
    if (format == F::flac)
        parts << (options.compressionLevel == 5 ? QStringLiteral("compression native automatic")
                                                : QStringLiteral("unsupported compression ") +
                                                      whole(options.compressionLevel));
    return parts.join(QStringLiteral("; "));
}

Json ExportDefaults::toJson() const
{
    Json encodings = Json::object();
    for (const auto &[key, options] : encodingByFormat)
        encodings[key.toStdString()] = options.toJson();
    return Json{
        {"format", StrictJson::string(ExportFormats::rawValue(format))},
        {"bitDepth", bitDepth},
        {"sampleRate", sampleRate},
        {"encodingByFormat", encodings},
        {"loFi", JsonCases::write(loFi)},
        {"clippingDB", clippingDB},
        {"vinyl", vinyl.toJson()},
    };
}

ExportDefaults ExportDefaults::fromJson(const Json &json)
{
    ExportDefaults record;
    const QString format = StrictJson::requireString(json, "format");
    const auto known = ExportFormats::fromRawValue(format);
    if (!known)
        throw JsonError(QStringLiteral("format names no case"));
    record.format = *known;
    record.bitDepth = StrictJson::requireInt64(json, "bitDepth");
    record.sampleRate = StrictJson::requireInt64(json, "sampleRate");
    if (json.contains("encodingByFormat") && !json.at("encodingByFormat").is_null()) {
        for (const auto &[key, options] : StrictJson::requireObject(json, "encodingByFormat").items())
            record.encodingByFormat[QString::fromStdString(key)] = EncodingOptions::fromJson(options);
    }
    record.loFi = JsonCases::optional<LoFiTreatment>(json, "loFi").value_or(LoFiTreatment::off);
    record.clippingDB = StrictJson::optionalInt64(json, "clippingDB").value_or(0);
    if (json.contains("vinyl") && !json.at("vinyl").is_null())
        record.vinyl = VinylOptions::fromJson(StrictJson::requireObject(json, "vinyl"));
    return record;
}

ExportDefaults ExportDefaults::decode(const QByteArray &bytes)
{
    return fromJson(StrictJson::parse(bytes));
}

QByteArray ExportDefaults::encode() const
{
    return StrictJson::dump(toJson());
}

} // namespace tampod
