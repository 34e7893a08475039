#include "export/preview/export_preview_renderer.h"

#include "export/engine/audio_file_exporter.h"
#include "export/preview/internal/preview_channel_join.h"
#include "files/journal/audio_export_error.h"

namespace tampod {

ExportPreviewRenderer::ExportPreviewRenderer(std::shared_ptr<AudioExportServing> exporter, StoreProvider store)
    : exporter_(exporter ? std::move(exporter) : std::make_shared<AudioFileExporter>()), store_(std::move(store)),
      executor_(QStringLiteral("export preview renderer"))
{
}

Async<std::shared_ptr<const PreparedExportPreview>> ExportPreviewRenderer::prepare(ExportPreviewRequest request,
                                                                                   ExportProgress progress,
                                                                                   CancellationToken token)
{
    return executor_.submit([this, request = std::move(request), progress = std::move(progress), token] {
        return render(request, progress, token);
    });
}

std::shared_ptr<const PreparedExportPreview> ExportPreviewRenderer::render(const ExportPreviewRequest &request,
                                                                           const ExportProgress &progress,
                                                                           const CancellationToken &token) const
{
    token.throwIfCancelled();
    if (const QStringList issues = request.issues(); !issues.isEmpty())
        throw AudioExportError::invalidSettings(issues.join(QLatin1Char('\n')));
    switch (request.mode) {
    case ExportPreviewMode::vinyl:
    case ExportPreviewMode::hum:
        return VinylPreviewRenderer::prepare(request, progress, token, store_);
    case ExportPreviewMode::original: {
        const QUrl url = request.loop && request.loop->section ? request.loop->section->url() : request.track.audioURL();
        return std::make_shared<const PreparedExportPreview>(request, url, request.loop ? request.loop->repeatCount : 1);
    }
    case ExportPreviewMode::processed:
        break;
    }
    return renderProcessed(request, progress, token);
}

std::shared_ptr<const PreparedExportPreview>
ExportPreviewRenderer::renderProcessed(const ExportPreviewRequest &request, const ExportProgress &progress,
                                       const CancellationToken &token) const
{
    auto folder = std::make_unique<JobFolder>(store_().makeDirectory());
    const QString out = folder->file(QStringLiteral("preview.") + ExportFormats::fileExtension(request.settings.format));
    const bool separate = request.pairOutput == SD2PairOutput::separateMono;
    const QString joined = folder->file(QStringLiteral("joined-preview.wav"));
    // Made before the export, so that every failure below lets the folder go with it.
    auto preview = std::make_shared<const PreparedExportPreview>(
        request, QUrl::fromLocalFile(separate ? joined : out), 1, std::move(folder));

    AudioExportRequest exportRequest;
    exportRequest.track = request.track;
    exportRequest.settings = request.settings;
    exportRequest.destination = QUrl::fromLocalFile(out);
    exportRequest.loop = request.loop;
    exportRequest.pairOutput = request.pairOutput;
    // This actor's worker waits for the exporter's: the sheet's auditions render one at a time.
    const AudioExportResult result = exporter_->exportAudio(exportRequest, progress, token).wait();
    if (separate) {
        if (result.additionalDestinations.isEmpty())
            throw AudioExportError(AudioExportError::Case::verificationFailed);
        // Decoded rather than copied as integers, so every format the sheet offers a pair can
        // be heard; an SD2 data fork is read with the parameters the export wrote it with.
        std::optional<AudioFileReader::RawPCMFormat> raw;
        if (request.settings.format == ExportFormat::sd2)
            raw = AudioFileReader::RawPCMFormat{int(result.sampleRate), 1, int(request.settings.bitDepth)};
        PreviewChannelJoin::join(result.destination.toLocalFile(), result.additionalDestinations.first().toLocalFile(),
                                 raw, joined, token);
    }
    token.throwIfCancelled();
    return preview;
}

} // namespace tampod
