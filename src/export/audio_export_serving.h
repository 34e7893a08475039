#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "export/audio_export_request.h"

#include <functional>

namespace tampod {

// Fractions 0...1 of one export, called on the exporter's worker between chunks (at most once
// per whole percent); the export waits for each call, so it must not block. The exporter never
// reports 1.0 itself, except a mono pair once both files are published.
using ExportProgress = std::function<void(double)>;

// The one entry point of every export, batch item and processed preview.
class AudioExportServing {
public:
    virtual ~AudioExportServing() = default;
    // The published result, or the error that ended the export (Cancelled once token is
    // cancelled); no destination file exists unless the whole export succeeded.
    virtual Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                                 CancellationToken token) = 0;
};

} // namespace tampod
