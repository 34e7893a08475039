#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "export/audio_export_serving.h"
#include "export/preview/export_preview_request.h"
#include "export/preview/vinyl_preview_renderer.h"

#include <memory>

namespace tampod {

// Makes the file of one audition. Progress fractions 0...1 arrive on the renderer's worker.
class ExportPreviewPreparing {
public:
    virtual ~ExportPreviewPreparing() = default;
    virtual Async<std::shared_ptr<const PreparedExportPreview>> prepare(ExportPreviewRequest request,
                                                                        ExportProgress progress,
                                                                        CancellationToken token) = 0;
};

// The auditions of one export sheet, one at a time: Original plays the source as it is,
// Processed runs the real export into a job folder (a separate-mono pair's two files joined
// into one stereo file to hear), Vinyl and Hum render the layer alone. An actor.
class ExportPreviewRenderer final : public ExportPreviewPreparing {
public:
    using StoreProvider = VinylPreviewRenderer::StoreProvider;

    // Without an exporter, a new AudioFileExporter.
    explicit ExportPreviewRenderer(std::shared_ptr<AudioExportServing> exporter = nullptr,
                                   StoreProvider store = &TemporaryAudioStore::shared);

    Async<std::shared_ptr<const PreparedExportPreview>> prepare(ExportPreviewRequest request, ExportProgress progress,
                                                                CancellationToken token) override;

private:
    std::shared_ptr<const PreparedExportPreview> render(const ExportPreviewRequest &request,
                                                        const ExportProgress &progress,
                                                        const CancellationToken &token) const;
    std::shared_ptr<const PreparedExportPreview> renderProcessed(const ExportPreviewRequest &request,
                                                                 const ExportProgress &progress,
                                                                 const CancellationToken &token) const;

    const std::shared_ptr<AudioExportServing> exporter_;
    const StoreProvider store_;
    SerialExecutor executor_; // last: finishes a running render before the rest goes
};

} // namespace tampod
