#pragma once

#include "export/raw_value.h"

#include <array>

namespace tampod {

// How a linked .L/.R pair is exported. The raw values are the texts of the choice.
enum class SD2PairOutput { stereo, separateMono };

template <>
struct RawValues<SD2PairOutput> {
    static constexpr std::array<std::string_view, 2> texts{"One stereo file", "Separate left/right mono files"};
};

} // namespace tampod
