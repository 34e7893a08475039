#pragma once

#include "library/audio_track.h"

#include <QString>

namespace tampod {

// The name a missing-source message uses for a record: a linked pair's name with " (L/R)",
// else the file name of the source as it was loaded.
QString sourceDisplayName(const AudioTrack &track);

} // namespace tampod
