#include "export/session/batch_export_item.h"

#include "core/native_path.h"
#include "library/sd2_pair_audio.h"

namespace tampod {

BatchExportItem BatchExportItem::waiting(const AudioTrack &track)
{
    BatchExportItem item;
    item.id = track.id;
    item.name = nameOf(track);
    return item;
}

QString BatchExportItem::nameOf(const AudioTrack &track)
{
    if (track.pair)
        return track.pair->name() + QStringLiteral(" (L/R)");
    return displayedPath(track.projectedURL().fileName());
}

} // namespace tampod
