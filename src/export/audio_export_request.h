#pragma once

#include "export/export_defaults.h"
#include "export/loop_export_options.h"
#include "export/sd2_pair_output.h"
#include "export/shared_export_staging.h"
#include "files/access/file_access_lease.h"
#include "library/audio_track.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

// One export: what, with which settings, to where.
struct AudioExportRequest {
    AudioTrack track;
    ExportDefaults settings;
    // For a separate-mono pair: the folder, the base name and the format's extension; the
    // channel files' names are formed from it.
    QUrl destination;
    std::optional<LoopExportOptions> loop; // absent: the whole recording
    SD2PairOutput pairOutput = SD2PairOutput::stereo;
    // The access to the chosen destination or folder, kept for as long as the request lives.
    std::shared_ptr<const FileAccessLease> destinationAccess;
    // A batch's one staging folder for single-file exports into its folder; null: the export
    // makes its own.
    std::shared_ptr<SharedExportStaging> sharedStaging = nullptr;

    // The sentences that block this export; empty means it can be exported.
    QStringList issues() const;
    // Throws AudioExportError invalidSettings carrying every issue, one per line, when there is one.
    void checkIssues() const;
    // Without the dot.
    QString fileExtension() const;
};

// What an export published.
struct AudioExportResult {
    QUrl destination;
    std::int64_t frames = 0; // read back from the published file
    std::uint32_t channels = 0;
    std::int64_t sampleRate = 0;
    QList<QUrl> additionalDestinations; // a mono pair's second file
};

} // namespace tampod
