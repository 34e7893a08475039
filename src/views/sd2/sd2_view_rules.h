#pragma once

#include "library/audio_track.h"
#include "library/sd2_metadata.h"
#include "player/sd2_recovery_queue.h"

#include <QList>
#include <QString>

#include <optional>

// What the SD2 views show and offer, derived from the library on every read. Pure.
namespace tampod::SD2ViewRules {

// The quick recovery buttons' choices.
inline constexpr int rate441 = 44100;
inline constexpr int rate48 = 48000;
inline constexpr int minimumRate = 8000;
inline constexpr int maximumRate = 192000;

// The library's SD2 channel files that can be a pair's left or right channel: not linked, with
// a known channel count of 1. A recovery without its copy yet has no known count.
QList<AudioTrack> monoTracks(const QList<AudioTrack> &tracks);
// Those whose name carries the channel letter L.
QList<AudioTrack> leftTracks(const QList<AudioTrack> &mono);
// The tracks the pairing rules accept as left's partner; none without a left track.
QList<AudioTrack> rightTracks(const QList<AudioTrack> &mono, const std::optional<AudioTrack> &left);
// Why the two cannot be linked; "Choose a left file and a right file." while one is missing.
std::optional<QString> pairIssue(const std::optional<AudioTrack> &left, const std::optional<AudioTrack> &right);

// A typed rate: an optional sign and decimal digits only, within 8,000…192,000 Hz.
std::optional<int> validRate(const QString &text);

// progress × 100 truncated toward zero, within 0…100; 0 for a value that is not a number.
int percent(double progress);
// A rate in kHz as the shortest C-locale text: 44.1, 48, 22.05.
QString kilohertz(int sampleRate);

// The selected track's progress line: queued, or "Preparing 16-bit, 48 kHz… 99%", with the
// depth of the parameters in force (16-bit without any).
QString selectedProgressText(const SD2RecoveryQueue::Status &status, const std::optional<SD2Metadata> &parameters);
// Another track's progress line: "Recovering take.sd2… 40%".
QString backgroundProgressText(const SD2RecoveryQueue::Status &status);

// The status panel's hint while no job runs for the track.
QString recoveryHint(const SD2Recovery &recovery);

} // namespace tampod::SD2ViewRules
