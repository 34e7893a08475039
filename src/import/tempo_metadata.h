#pragma once

#include "concurrency/cancellation.h"
#include "platform/decode/media_tag_reader.h"

#include <QUrl>

#include <optional>

// The tempo stored in a recording at import: the container's own tempo tags in a fixed order by
// extension, or SD2 resource metadata for files of no format we read ourselves, then the
// generic tags of the media demuxer.
namespace tampod::TempoMetadata {

// The first usable tempo found, or none; a file that cannot be read is none. Synchronous and
// blocking: the importer calls it on its own executor. The token (installed as the current
// task's token for the tag readers) stops the chunk walks and the demuxer's reading with
// Cancelled, the only error thrown: a cancelled import must not keep a track without its tempo.
std::optional<double> read(const QUrl &url, const CancellationToken &token = CurrentCancellation::token());

// What the caller already found out about the same file, so it is not looked up again.
struct Known {
    std::optional<bool> sd2Storage; // a legacy SD2 name, or resource storage beside or in it
    std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags; // as MediaTagReader::read gives them
};
std::optional<double> read(const QUrl &url, const CancellationToken &token, const Known &known);

} // namespace tampod::TempoMetadata
