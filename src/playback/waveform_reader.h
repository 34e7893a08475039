#pragma once

#include "playback/waveform_viewport.h"

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "library/audio_track.h"

#include <QCoro/QCoroTask>
#include <QList>

#include <cstdint>
#include <functional>
#include <optional>

namespace tampod {

// Per-bin peak magnitudes 0…1, one float per bin; empty means nothing to draw.
using WaveformPeaks = QList<float>;

// How the waveform models read peaks of a record; the token is the reading task's own.
using WaveformReading = std::function<QCoro::Task<WaveformPeaks>(AudioTrack track, CancellationToken token)>;

// Peaks of a record's playable file. Reading never fails: a pending SD2 recovery, a missing or
// unreadable source, an empty file, more than 32 channels, a channel out of range, a read
// error and cancellation all give empty peaks.
namespace WaveformReader {

inline constexpr int maximumBins = 65536;
inline constexpr int maximumChannels = 32;
inline constexpr std::int64_t blockFrames = 8192;

// Reads detached at utility priority; the work checks token before opening and before each
// block. channel: none combines every channel, else one channel counted from 0.
Async<WaveformPeaks> read(AudioTrack track, WaveformViewport viewport, int binCount, std::optional<int> channel,
                          CancellationToken token = {});

// The same work on the calling thread.
WaveformPeaks peaks(const AudioTrack &track, WaveformViewport viewport, int binCount, std::optional<int> channel,
                    const CancellationToken &token = {});

// Whether frames × bins products stay inside a signed 64-bit integer.
bool fitsBinArithmetic(std::int64_t frames, std::int64_t bins);

// A reading of the whole file with binCount bins over all channels.
WaveformReading wholeFile(int binCount);

} // namespace WaveformReader

} // namespace tampod
