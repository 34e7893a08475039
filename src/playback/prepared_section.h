#pragma once

#include "files/store/working_copy_folder.h"
#include "library/audio_track.h"
#include "playback/section_range.h"

#include <QUrl>

#include <cstdint>
#include <optional>

namespace tampod {

// A loop section rendered to a file of its own: the record it was cut from, the file that
// plays it and its bounds in frames of the source as the reader decodes it. Holders share it
// (std::shared_ptr<const PreparedSection>); a rendered file's job folder is removed when the
// last holder lets go, on whatever thread that is. The engine's actor may hold it, the audio
// callback never does, so the removal never runs there.
class PreparedSection {
public:
    // directory: the job folder that holds url and belongs to the section; none when the
    // section spans the whole track and plays the track's own file.
    PreparedSection(AudioTrack source, QUrl url, std::int64_t start, std::int64_t end, std::int64_t total,
                    double sampleRate, std::optional<QUrl> directory);
    PreparedSection(const PreparedSection &) = delete;
    PreparedSection &operator=(const PreparedSection &) = delete;

    const AudioTrack &source() const { return source_; }
    // The file to play: the rendered one, or the source's playable file read anew.
    QUrl url() const;
    std::int64_t startFrame() const { return startFrame_; }
    std::int64_t endFrame() const { return endFrame_; }
    std::int64_t totalFrames() const { return totalFrames_; }
    double sampleRate() const { return sampleRate_; }
    const std::optional<QUrl> &directory() const { return directory_; }
    // The frame bounds as fractions of the source; the whole track when they make no range.
    SectionRange range() const;

private:
    const AudioTrack source_;
    const QUrl preparedURL_;
    const std::int64_t startFrame_;
    const std::int64_t endFrame_;
    const std::int64_t totalFrames_;
    const double sampleRate_;
    const std::optional<QUrl> directory_;
    WorkingCopyFolder folder_;
};

} // namespace tampod
