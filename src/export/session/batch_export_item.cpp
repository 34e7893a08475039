#include "export/session/batch_export_item.h"

#include "library/sd2_pair_audio.h"

namespace tampod {

BatchExportItem BatchExportItem::waiting(const AudioTrack &track)
{
    BatchExportItem item;
    item.id = track.id;
    item.name = track.displayName();
    return item;
}


} // namespace tampod
