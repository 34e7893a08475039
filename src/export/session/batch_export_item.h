#pragma once

#include "export/audio_export_request.h"
#include "export/raw_value.h"
#include "library/audio_track.h"

#include <QString>
#include <QUuid>

#include <optional>

namespace tampod {

// One row of a batch export; it shares its track's id.
struct BatchExportItem {
    // The raw values are the texts the row shows.
    enum class State { pending, exporting, saved, failed, cancelled, notExported };

    QUuid id;
    QString name;
    State state = State::pending;
    double progress = 0; // 0...1 of this file
    QString detail;      // a file name, file names or an error text
    std::optional<AudioExportResult> result;

    // A waiting row for the track.
    static BatchExportItem waiting(const AudioTrack &track);
};

template <>
struct RawValues<BatchExportItem::State> {
    static constexpr std::array<std::string_view, 6> texts{"Waiting",   "Exporting", "Saved",
                                                           "Failed",    "Cancelled", "Not exported"};
};

} // namespace tampod
