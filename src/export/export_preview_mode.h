#pragma once

#include "export/raw_value.h"

#include <array>

namespace tampod {

// What an audition plays: the source as it is, the export as it would be written, or the
// Vinyl texture or the Hum alone. The raw values are the buttons' texts.
enum class ExportPreviewMode { original, processed, vinyl, hum };

template <>
struct RawValues<ExportPreviewMode> {
    static constexpr std::array<std::string_view, 4> texts{"Original", "Processed", "Vinyl", "Hum"};
};

// The two auditions of a treatment sample without the music.
constexpr bool isSamplePreview(ExportPreviewMode mode)
{
    return mode == ExportPreviewMode::vinyl || mode == ExportPreviewMode::hum;
}

} // namespace tampod
