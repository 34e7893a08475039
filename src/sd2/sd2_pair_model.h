#pragma once

#include "library/audio_track.h"

#include <QList>
#include <QString>

#include <optional>

// The rules of a linked .L/.R pair (the record itself, SD2PairAudio, is the library's): whether
// two library tracks may be linked, and which track is a channel file's partner. The one gate
// for the pairing tools, the library's link command, pair preparation, the export request and
// the pair export. Names are judged as loaded (projectedURL), never by where the files are now.
namespace tampod::SD2PairModel {

// None when left and right may be linked as the left and the right channel, else the user's
// reason; the first failing check decides. Pure: reads the two records only.
std::optional<QString> issue(const AudioTrack &left, const AudioTrack &right);

// The one track of tracks that can be linked with track (in the channel order their names
// give), or none when there is none or more than one.
std::optional<AudioTrack> suggestedPartner(const AudioTrack &track, const QList<AudioTrack> &tracks);

} // namespace tampod::SD2PairModel
