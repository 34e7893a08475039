#pragma once

#include "library/audio_track.h"
#include "playback/prepared_section.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace tampod {

// The loop half of an export or preview: which prepared section, played how many times.
struct LoopExportOptions {
    static constexpr std::int64_t maximumRepeats = 999;

    std::shared_ptr<const PreparedSection> section;
    // 1...999; the session stores 0 for a count that is not a whole number, reported below.
    std::int64_t repeatCount = 1;

    // Sentences that block using this loop with the track; empty when it can be used.
    QStringList issues(const AudioTrack &track) const;

    // "—" for a length that is not a number, infinite or negative; otherwise seconds with three
    // fraction digits in the user's locale, then " seconds".
    static QString durationText(double seconds);
};

} // namespace tampod
