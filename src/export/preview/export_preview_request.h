#pragma once

#include "export/export_defaults.h"
#include "export/export_preview_mode.h"
#include "export/loop_export_options.h"
#include "export/sd2_pair_output.h"
#include "files/store/job_folder.h"
#include "library/audio_track.h"

#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

// What one audition asks for: a recording, the export settings it stands for, an optional
// repeated loop section, and what to hear of it.
struct ExportPreviewRequest {
    AudioTrack track;
    ExportDefaults settings;
    std::optional<LoopExportOptions> loop; // absent: the whole recording
    ExportPreviewMode mode = ExportPreviewMode::original;
    SD2PairOutput pairOutput = SD2PairOutput::stereo;

    // The sentences that forbid this audition; empty means it may be prepared.
    QStringList issues() const;
};

// The file an audition plays. It owns the job folder its file was made in (none for the
// Original audition, which plays the source itself); the folder goes with the last holder.
// thread: immutable; released on any thread but the real-time one.
class PreparedExportPreview {
public:
    PreparedExportPreview(ExportPreviewRequest request, QUrl preparedURL, std::int64_t repetitions,
                          std::unique_ptr<JobFolder> directory = nullptr)
        : request_(std::move(request)), preparedURL_(std::move(preparedURL)), repetitions_(repetitions),
          directory_(std::move(directory))
    {
    }

    const ExportPreviewRequest &request() const { return request_; }
    const QUrl &preparedURL() const { return preparedURL_; }
    // How many times a sample audition is heard in a row.
    std::int64_t repetitions() const { return repetitions_; }
    std::optional<QUrl> directory() const
    {
        return directory_ ? std::optional<QUrl>(directory_->url()) : std::nullopt;
    }

    // What the player plays: the loop's or the track's own file for Original, else the made file.
    QUrl url() const;

private:
    const ExportPreviewRequest request_;
    const QUrl preparedURL_;
    const std::int64_t repetitions_;
    const std::unique_ptr<JobFolder> directory_;
};

} // namespace tampod
