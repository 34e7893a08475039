#pragma once

#include <QByteArray>

namespace tampod::AppleDouble {

inline constexpr quint32 magic = 0x00051607;
inline constexpr quint32 resourceForkEntry = 2;

// The resource fork inside an AppleDouble companion, validating every entry of its header.
// Bytes without the AppleDouble magic are a raw fork and come back unchanged; a header without
// a resource-fork entry gives empty bytes. Damage is SD2MetadataError `invalid`.
QByteArray unwrap(const QByteArray &bytes);

} // namespace tampod::AppleDouble
