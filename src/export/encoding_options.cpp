#include "export/encoding_options.h"

#include "export/internal/json_cases.h"

#include <algorithm>

namespace tampod {

using StrictJson::Json;

QString title(SampleEncoding encoding)
{
    return encoding == SampleEncoding::integer ? QStringLiteral("Integer PCM") : RawValue::text(encoding);
}

EncodingOptions EncodingOptions::initial(ExportFormat format)
{
    EncodingOptions options;
    switch (format) {
    case ExportFormat::mp3:
        options.quality = 2;
        break;
    case ExportFormat::m4aAAC:
    case ExportFormat::aac:
        options.bitRateKbps = 256;
        break;
    case ExportFormat::oggVorbis:
        options.rateMode = BitRateMode::variable;
        options.quality = 5;
        break;
    default:
        break;
    }
    return options;
}

Json EncodingOptions::toJson() const
{
    return Json{
        {"channels", JsonCases::write(channels)},
        {"sampleEncoding", JsonCases::write(sampleEncoding)},
        {"rateMode", JsonCases::write(rateMode)},
        {"bitRateKbps", bitRateKbps},
        {"quality", quality},
        {"aacProfile", JsonCases::write(aacProfile)},
        {"compressionLevel", compressionLevel},
        {"apeCompression", JsonCases::write(apeCompression)},
        {"wmaProfile", JsonCases::write(wmaProfile)},
        {"dialogueLevel", dialogueLevel},
    };
}

EncodingOptions EncodingOptions::fromJson(const Json &json)
{
    EncodingOptions options;
    options.channels = JsonCases::require<ExportChannels>(json, "channels");
    options.sampleEncoding = JsonCases::require<SampleEncoding>(json, "sampleEncoding");
    options.rateMode = JsonCases::require<BitRateMode>(json, "rateMode");
    options.bitRateKbps = StrictJson::requireInt64(json, "bitRateKbps");
    options.quality = StrictJson::requireInt64(json, "quality");
    options.aacProfile = JsonCases::require<AACProfile>(json, "aacProfile");
    options.compressionLevel = StrictJson::requireInt64(json, "compressionLevel");
    options.apeCompression = JsonCases::require<APECompression>(json, "apeCompression");
    options.wmaProfile = JsonCases::require<WMAProfile>(json, "wmaProfile");
    options.dialogueLevel = StrictJson::requireInt64(json, "dialogueLevel");
    return options;
}

namespace ExportFormats {

const std::array<ExportFormat, 5> &currentChoices()
{
    static constexpr std::array<ExportFormat, 5> choices{ExportFormat::wav, ExportFormat::aiff, ExportFormat::flac,
                                                         ExportFormat::m4aAAC, ExportFormat::sd2};
    return choices;
}

bool isInCurrentScope(ExportFormat format)
{
    const auto &choices = currentChoices();
    return std::find(choices.begin(), choices.end(), format) != choices.end();
}

bool isNativeCompressedOutput(ExportFormat format)
{
    return format == ExportFormat::flac || format == ExportFormat::m4aAAC;
}

} // namespace ExportFormats

} // namespace tampod
