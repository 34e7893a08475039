#include "playback/internal/source_display_name.h"

#include "core/native_path.h"
#include "library/sd2_pair_audio.h"

namespace tampod {

QString sourceDisplayName(const AudioTrack &track)
{
    if (track.pair)
        return track.pair->name() + QStringLiteral(" (L/R)");
    return displayedPath(track.projectedURL().fileName());
}

} // namespace tampod
