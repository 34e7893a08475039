#pragma once

#include "library/audio_track.h"

#include <QList>
#include <QString>

namespace tampod {

// What the library's batch Export button would export, and its texts.
struct LibraryExportSelection {
    QList<AudioTrack> tracks; // in library order
    bool usesChecks = false;  // from the Export check boxes, not from the row selection

    QString summary() const;
    QString help() const;
};

} // namespace tampod
