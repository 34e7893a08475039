#pragma once

#include <QByteArray>

#include <cstdint>
#include <span>

namespace tampod::Utf8Text {

// The bytes as well-formed UTF-8: each maximal subpart of an ill-formed sequence becomes one
// U+FFFD, as the Unicode standard recommends, so the length of a repaired text depends only on
// its bytes. Well-formed input comes back unchanged.
QByteArray repaired(std::span<const std::uint8_t> bytes);
QByteArray repaired(const QByteArray &bytes);

} // namespace tampod::Utf8Text
