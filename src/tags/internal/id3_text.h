#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace tampod::Id3Text {

// Decodes the payload of an ID3v2 text frame (its first byte is the text encoding). nullopt
// for an unknown encoding or bytes that are not valid in their encoding; decoding is strict.
std::optional<QString> decode(std::span<const std::uint8_t> payload);

} // namespace tampod::Id3Text
