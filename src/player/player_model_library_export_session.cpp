#include "player/player_model.h"

#include "concurrency/thread_role.h"
#include "export/engine/audio_file_exporter.h"

#include <algorithm>

namespace tampod {

std::unique_ptr<BatchExportSession> PlayerModel::libraryExportSession(const ExportDefaults &defaults)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QList<AudioTrack> tracks = libraryExportSelection().tracks;
    pause();
    if (tracks.isEmpty())
        return nullptr;
    const auto &recovering = recoveryQueue_->states();
    if (std::any_of(tracks.begin(), tracks.end(), [&](const AudioTrack &t) { return recovering.contains(t.id); })) {
        warn(QStringLiteral("SD2 Recovery In Progress"),
             QStringLiteral("Wait for the export files to finish recovery, or cancel recovery before exporting the "
                            "previous interpretation."),
             {});
        return nullptr;
    }
    return std::make_unique<BatchExportSession>(std::move(tracks), defaults, std::make_shared<AudioFileExporter>(),
                                                filePanels);
}

} // namespace tampod
