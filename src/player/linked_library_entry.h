#pragma once

#include "library/audio_track.h"

#include <QString>
#include <QUuid>

#include <optional>

namespace tampod {

// One visible library row. A linked pair is one track shown as its two channel rows, each
// owned by the pair track; any other track is its own row. The record is the player's own, not
// a copy: it stands until the library's tracks change.
struct LinkedLibraryEntry {
    const AudioTrack *track;        // the row's record: a pair's left or right channel track
    QUuid ownerID;                  // the library track the row stands for
    std::optional<QString> channel; // "L" or "R" on a pair's rows
    const AudioTrack *owner;        // the record of the library track the row stands for
};

} // namespace tampod
