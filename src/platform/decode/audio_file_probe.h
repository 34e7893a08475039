#pragma once

#include <QString>

#include <optional>

namespace tampod {

// Recognises a file we can decode from its content alone (never its name). Content that
// only weakly resembles a stream (headerless PCM, text) is refused, so it is never taken for
// compressed audio.
class AudioFileProbe {
public:
    struct Result {
        QString container; // the demuxer's short name: "wav", "aiff", "caf", "flac", "mp3", "mov", ...
        int score = 0;     // the recogniser's confidence, 1–100
    };

    // Never throws: an unreadable file is no audio file.
    static std::optional<Result> probe(const QString &path);
};

} // namespace tampod
