#pragma once

#include "library/audio_track.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

// Keeps the .L and .R files of one split stereo recording next to each other in the library,
// left before right, and reports recordings whose two channel files cannot be linked because
// their lengths or sample rates differ. Pure functions of the records (no file access).
//
// A track takes part in grouping when it is an SD2 track (AudioTrack::isSD2), is not a linked
// pair, and its file name as loaded parses as a channel name (<stem>.L / <stem>.R). Its
// recording is identified by the folder it was loaded from and its stem, both compared exactly
// (the stem is case-sensitive).
namespace tampod::SD2LibraryOrder {

struct Key {
    QUrl folder;  // the loaded URL without its file name
    QString stem; // SD2Identification::channelName's stem

    bool operator==(const Key &) const = default;
};

size_t qHash(const Key &key, size_t seed = 0) noexcept;

// Every input track exactly once. Non-grouping tracks keep their places; a recording's group
// stands where its first member stood: its "L" files in input order, then its "R" files.
// The importer applies it to each batch it loads, the library again when it appends tracks.
QList<AudioTrack> grouped(const QList<AudioTrack> &tracks);

// One sentence per recording of exactly two channel files, one "L" and one "R", at least one
// of them in ids, whose frame counts and sample rates are both known and differ in either.
// Sorted ascending, so the order of groups does not matter. The player passes the whole
// library as tracks and the ids of the tracks just imported.
QStringList lengthWarnings(const QList<AudioTrack> &tracks, const QSet<QUuid> &ids);

// The warning shown after an import: lengthWarnings over the library for the imported ids,
// under a fixed title and message; none when there is nothing to report.
struct ImportLengthWarning {
    QString title;
    QString message;
    QStringList details;
};
std::optional<ImportLengthWarning> importLengthWarning(const QList<AudioTrack> &library,
                                                       const QList<AudioTrack> &imported);

} // namespace tampod::SD2LibraryOrder
