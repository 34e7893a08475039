#include "player/player_model.h"

#include "concurrency/thread_role.h"
#include "export/engine/audio_file_exporter.h"
#include "export/preview/export_preview_renderer.h"

#include <QPointer>

namespace tampod {

std::unique_ptr<ExportSession> PlayerModel::primaryExportSession(const ExportDefaults &defaults)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pause();
    const auto track = primaryExportTrack();
    if (!track)
        return nullptr;
    const bool current = selectedID_ && *selectedID_ == track->id;
    std::shared_ptr<const PreparedSection> loop = current ? sectionLoop_->prepared() : nullptr;
    QPointer<PlayerModel> self(this);
    auto preview = new ExportPreviewCoordinator(std::make_shared<ExportPreviewRenderer>(),
                                                std::make_shared<ExportPreviewPlayer>());
    return std::make_unique<ExportSession>(
        *track, defaults, std::move(loop), std::make_shared<AudioFileExporter>(), preview,
        mainPlaybackPause(), filePanels,
        [self](const QString &message) {
            if (self)
                self->warn(ExportSession::warningTitle, message, {});
        });
}

} // namespace tampod
