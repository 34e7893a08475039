#pragma once

// Scenes for the preview tests: the export scene's own store, which must hold no job folder
// once a test is over, and requests built on it.
#include "../export_fixtures.h"

#include "export/preview/export_preview_renderer.h"

namespace tampod::test {

class PreviewScene : public ExportScene {
public:
    ~PreviewScene() { EXPECT_EQ(jobFolders(), QStringList{}); }

    QStringList jobFolders() const { return entriesOf(store().session().toLocalFile() + QStringLiteral("/jobs")); }

    VinylPreviewRenderer::StoreProvider storeProvider() const
    {
        return [this]() -> TemporaryAudioStore & { return const_cast<TemporaryAudioStore &>(store()); };
    }

    std::shared_ptr<ExportPreviewRenderer> renderer() const
    {
        return std::make_shared<ExportPreviewRenderer>(std::make_shared<AudioFileExporter>(environment),
                                                       storeProvider());
    }
};

inline ExportPreviewRequest previewOf(const AudioTrack &track, ExportPreviewMode mode,
                                      const ExportDefaults &settings = {})
{
    ExportPreviewRequest request;
    request.track = track;
    request.settings = settings;
    request.mode = mode;
    return request;
}

inline VinylOptions vinylLevels(bool enabled, std::int64_t amount, bool hum, std::int64_t humAmount)
{
    VinylOptions options;
    options.enabled = enabled;
    options.amount = amount;
    options.humEnabled = hum;
    options.humAmount = humAmount;
    return options;
}

} // namespace tampod::test
