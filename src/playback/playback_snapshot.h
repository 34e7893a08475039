#pragma once

#include <QUuid>

#include <array>
#include <optional>

namespace tampod {

// What the engine reports to the command queue's refresh and position monitor.
struct PlaybackSnapshot {
    std::optional<QUuid> id;        // the loaded track; none when nothing is loaded
    double position = 0;            // seconds on the whole track's time line
    bool playing = false;
    // None until playback ends; true at the end of the file, false after a decoding failure.
    std::optional<bool> completion;
    std::array<double, 2> levels{}; // left, right; 0...1

    bool operator==(const PlaybackSnapshot &) const = default;
};

} // namespace tampod
