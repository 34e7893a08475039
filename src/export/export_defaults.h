#pragma once

#include "core/strict_json.h"
#include "export/encoding_options.h"
#include "export/raw_value.h"
#include "export/vinyl_options.h"
#include "library/export_format.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace tampod {

enum class LoFiTreatment { off, eightBit, twelveBit };

template <>
struct RawValues<LoFiTreatment> {
    static constexpr std::array<std::string_view, 3> texts{"off", "eightBit", "twelveBit"};
};

// The whole set of export settings: the saved defaults, the draft of an export sheet and the
// settings of every export. It never corrects itself: a choice that cannot be produced stays
// as saved and is reported by validationIssues(), which blocks exporting and saving.
// A default-constructed record is the built-in default.
struct ExportDefaults {
    ExportFormat format = ExportFormat::wav;
    std::int64_t bitDepth = 24;
    std::int64_t sampleRate = 48000;
    // Keyed by format raw value; other formats' entries stay, so switching back restores them.
    std::map<QString, EncodingOptions> encodingByFormat;
    LoFiTreatment loFi = LoFiTreatment::off;
    std::int64_t clippingDB = 0; // 0 is off
    VinylOptions vinyl;

    bool operator==(const ExportDefaults &) const = default;

    static const std::vector<std::int64_t> &bitDepths();
    static const std::vector<std::int64_t> &sampleRates();
    std::vector<std::int64_t> availableBitDepths() const;

    // The options of the chosen format: its saved entry, else the format's initial options. A
    // saved rate mode or bit rate the format does not offer reads as its one offer, if it has one.
    EncodingOptions options() const;

    // Complete sentences, in a fixed order; empty means the record can be exported and saved.
    QStringList validationIssues() const;
    bool supportsClipping() const; // Vinyl follows the same rule
    bool supportsLoFi() const;
    bool hasAudioTreatment() const;
    // One line for the batch sheet.
    QString diagnosticSummary() const;

    StrictJson::Json toJson() const;
    // Throws JsonError when the record cannot be read: a required key missing, a present key
    // of the wrong type, a raw value that names no case, one malformed options entry.
    static ExportDefaults fromJson(const StrictJson::Json &json);
    static ExportDefaults decode(const QByteArray &bytes);
    QByteArray encode() const;
};

} // namespace tampod
