#pragma once

#include "library/audio_track.h"

// Rules the player model's topic files share.
namespace tampod::playermodel {

// An SD2 track whose recovered copy has not arrived: nothing to play, export or link yet.
inline bool waitsForRecovery(const AudioTrack &track)
{
    return track.recovery && !track.recovery->copy;
}

} // namespace tampod::playermodel
