#pragma once

#include "core/strict_json.h"
#include "export/raw_value.h"

#include <QString>

#include <array>
#include <cstdint>

namespace tampod {

// The texture samples; each raw value names the 48 kHz noise resource that plays.
enum class VinylSample { one, two, three };

template <>
struct RawValues<VinylSample> {
    static constexpr std::array<std::string_view, 3> texts{"lo-fi_vinyl1", "lo-fi_vinyl2", "lo-fi_vinyl3"};
};

// The Vinyl texture and Hum settings. Levels are kept as entered; the settings' validation
// reports levels outside 0...100.
struct VinylOptions {
    // "TAMPODV1" read as a big-endian number.
    static constexpr std::uint64_t defaultSeed = 0x54414D504F445631ULL;

    bool enabled = false;
    VinylSample sample = VinylSample::one;
    std::int64_t amount = 30;
    bool humEnabled = false;
    std::int64_t humAmount = 15;
    std::uint64_t seed = defaultSeed;

    bool operator==(const VinylOptions &) const = default;

    // One line for the batch sheet's settings summary.
    QString summary() const;

    // Always the current form, with "levelScaleVersion" 2.
    StrictJson::Json toJson() const;
    // Also reads the oldest form (crackle and pops levels) and levels of the old linear scale,
    // migrating both. Throws JsonError for a present key of the wrong type or an unknown sample.
    static VinylOptions fromJson(const StrictJson::Json &json);
};

} // namespace tampod
