#pragma once

#include "library/audio_track.h"

#include <QList>

// Stands in for the sd2 module's library order until it is part of this branch: the one call
// the importer makes, under the same name. Records keep their order meanwhile.
namespace tampod::SD2LibraryOrder {

inline QList<AudioTrack> grouped(const QList<AudioTrack> &tracks)
{
    return tracks;
}

} // namespace tampod::SD2LibraryOrder
