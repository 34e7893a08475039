#pragma once

#include "library/sd2_metadata.h"
#include "platform/forks/fork_store.h"

#include <QByteArray>
#include <QUrl>

#include <optional>

// Reads the parameters and tempos of an SD2 file from its resource fork and its AppleDouble
// companions ("._name" beside it, ".AppleDouble/name"). Never writes. Errors are
// SD2MetadataError, except failures of the file's own fork, which pass on as reported.
namespace tampod::SD2MetadataReader {

// The most bytes of resource data looked at from any one place.
inline constexpr qint64 inspectionLimit = 4 * 1024 * 1024;

// None when no place holds resource bytes. Every place that does must give equal metadata.
std::optional<SD2Metadata> read(const QUrl &url, const ForkStore &forks = ForkStore());

// Resource-fork bytes (no AppleDouble wrapper) to metadata.
SD2Metadata parse(const QByteArray &fork);

// Whether an SD2 file keeps resources anywhere read looks: an AppleDouble companion ("._name"
// or ".AppleDouble/name", any kind of item) or a non-empty resource fork. Reads nothing of
// them and never throws.
bool hasResourceStorage(const QUrl &url);

} // namespace tampod::SD2MetadataReader
