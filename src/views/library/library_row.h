#pragma once

#include "player/bpm_detection_queue.h"

#include <QString>
#include <QUuid>

#include <array>
#include <optional>

namespace tampod {

// The Repeat column's mark: the whole file repeats, or the section loop of the current track.
enum class RepeatSymbol { repeat, repeatOne };

// One line of the library table, every text already decided. Rows compare member-wise, so an
// update that changes nothing visible changes nothing on screen.
struct LibraryRow {
    QUuid id;             // the visible row's track: a channel row's own channel track
    QString name;
    QString bpm;          // "—" when no tempo is known
    QString duration;
    QString type;
    std::optional<RepeatSymbol> repeatSymbol;
    QString help;         // tool tip of the text cells, and of the BPM cell when idle
    QString sampleRate;
    QString resolution;
    std::optional<QString> linkedChannel; // "L" or "R" on a linked pair's rows
    bool canDetectBPM = false;
    std::optional<BPMDetectionQueue::Status> bpmStatus; // of the owner track; none when idle

    bool operator==(const LibraryRow &) const = default;

    // The same row as far as anything but the BPM cell shows it.
    bool sameBesidesBPM(const LibraryRow &other) const;
};

// The eight fixed columns, shared by the table and the header strip. Widths are design points.
namespace LibraryColumns {

enum Column { exportCheck, name, bpm, sampleRate, bits, repeat, duration, type, count };

inline constexpr std::array<const char *, count> titles{"Export", "Name", "BPM", "SR", "Bits", "Repeat", "Duration", "Type"};
inline constexpr std::array<double, count> widths{44, 0, 73, 125, 145, 45, 120, 90};
inline constexpr int nameMinimum = 60; // pixels, whatever the scale
inline constexpr double rowHeight = 56;
inline constexpr double fontSize = 24;
inline constexpr double nameInset = 11;

// The pixel edges of the columns, count + 1 of them, for a table width at scale s: the fixed
// columns' edges are rounded, not their widths, so the header and the table share them
// exactly; Name takes what is left, never less than its minimum.
std::array<int, count + 1> edges(int tableWidth, double s);

} // namespace LibraryColumns

} // namespace tampod
