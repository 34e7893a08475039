#include "export/preview/export_preview_request.h"

#include "export/audio_export_request.h"

namespace tampod {

QStringList ExportPreviewRequest::issues() const
{
    if (isSamplePreview(mode)) {
        const auto inRange = [](std::int64_t level) { return level >= 0 && level <= 100; };
        if (inRange(settings.vinyl.amount) && inRange(settings.vinyl.humAmount))
            return {};
        return {QStringLiteral("Choose Vinyl levels from 0 to 100%.")};
    }
    AudioExportRequest exportRequest;
    exportRequest.track = track;
    exportRequest.settings = settings;
    exportRequest.destination = track.url(); // takes part in no issue
    exportRequest.loop = loop;
    exportRequest.pairOutput = pairOutput;
    QStringList sentences = exportRequest.issues();
    if (track.waitsForRecovery())
        sentences << QStringLiteral("Choose an SD2 recovery rate before previewing.");
    return sentences;
}

QUrl PreparedExportPreview::url() const
{
    if (request_.mode != ExportPreviewMode::original)
        return preparedURL_;
    return request_.loop && request_.loop->section ? request_.loop->section->url() : request_.track.audioURL();
}

} // namespace tampod
