#pragma once

#include "core/strict_json.h"
#include "export/raw_value.h"
#include "library/export_format.h"

#include <QString>

#include <array>
#include <cstdint>

namespace tampod {

// The option enumerations of the export formats. Each raw value is both the saved form and
// the text shown for the case.
enum class ExportChannels { source, mono, stereo };
enum class SampleEncoding { integer, floatingPoint, muLaw, aLaw };
enum class BitRateMode { constant, average, constrained, variable };
enum class AACProfile { lc, he, heV2 };
enum class APECompression { fast, normal, high, extraHigh, insane };
enum class WMAProfile { standard, professional, lossless };

template <>
struct RawValues<ExportChannels> {
    static constexpr std::array<std::string_view, 3> texts{"Keep source layout", "Mono", "Stereo"};
};
template <>
struct RawValues<SampleEncoding> {
    static constexpr std::array<std::string_view, 4> texts{"Signed integer PCM", "32-bit floating point",
                                                           "8-bit \u03bc-law", "8-bit A-law"};
};
template <>
struct RawValues<BitRateMode> {
    static constexpr std::array<std::string_view, 4> texts{"Constant (CBR)", "Average (ABR)", "Constrained VBR",
                                                           "Variable (VBR)"};
};
template <>
struct RawValues<AACProfile> {
    static constexpr std::array<std::string_view, 3> texts{"AAC-LC", "HE-AAC", "HE-AAC v2"};
};
template <>
struct RawValues<APECompression> {
    static constexpr std::array<std::string_view, 5> texts{"Fast", "Normal", "High", "Extra High", "Insane"};
};
template <>
struct RawValues<WMAProfile> {
    static constexpr std::array<std::string_view, 3> texts{"Standard", "Professional", "Lossless"};
};

// The shorter label of an encoding: "Integer PCM" for integer, the raw value otherwise.
QString title(SampleEncoding encoding);

// The options of one format, saved per format in the export settings.
struct EncodingOptions {
    ExportChannels channels = ExportChannels::source;
    SampleEncoding sampleEncoding = SampleEncoding::integer;
    BitRateMode rateMode = BitRateMode::constant;
    std::int64_t bitRateKbps = 192;
    std::int64_t quality = 96;
    AACProfile aacProfile = AACProfile::lc;
    std::int64_t compressionLevel = 5; // FLAC: 5 is "native automatic"
    APECompression apeCompression = APECompression::normal;
    WMAProfile wmaProfile = WMAProfile::standard;
    std::int64_t dialogueLevel = -31;

    bool operator==(const EncodingOptions &) const = default;

    static EncodingOptions initial(ExportFormat format);

    StrictJson::Json toJson() const;
    // Every key is required; throws JsonError otherwise.
    static EncodingOptions fromJson(const StrictJson::Json &json);
};

// Which formats can be produced, and by which exporter.
namespace ExportFormats {

// The formats offered for output, in the order offered.
const std::array<ExportFormat, 5> &currentChoices();
bool isInCurrentScope(ExportFormat format);
// FLAC and M4A (AAC) come from the compressed exporter; every other format in scope is PCM.
bool isNativeCompressedOutput(ExportFormat format);

} // namespace ExportFormats

} // namespace tampod
