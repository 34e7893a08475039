#pragma once

#include "library/audio_track.h"

#include <QString>

#include <optional>

namespace tampod {

// Why two library tracks cannot be linked as a .L/.R pair (left, then right), or nothing
// when they can; the first failing check decides the sentence. Pure: reads the tracks and the
// paths they were loaded from.
std::optional<QString> sd2PairIssue(const AudioTrack &left, const AudioTrack &right);

} // namespace tampod
