#pragma once

#include "concurrency/cancellation.h"
#include "platform/decode/audio_file_format.h"
#include "platform/decode/media_tag_reader.h"

#include <QString>

namespace tampod {

// What our decoder makes of a file, asked the way a player is asked before it plays: does it
// open, how long is it, and does it start (its first frame decodes and it has frames at all).
struct NativeAudio {
    double duration = 0; // seconds
    bool playable = false;
    AudioFileFormat format;
    // The demuxer's tags where opening the file already read them.
    std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags;

    // Throws the reader's error when the file cannot be opened as audio (content that only
    // weakly resembles a stream, such as headerless PCM, never opens), Cancelled when token is.
    static NativeAudio open(const QString &path, const CancellationToken &token);
};

} // namespace tampod
