#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace tampod::test {

// Program-made drum loops of a known tempo: decaying kick tones and noise snares and hi-hats on
// a sixteenth grid. The same samples on every run (a fixed noise generator).
enum class DrumStyle {
    fourFloor, // kick on every beat, snare on 2 and 4, open hat off the beat
    rock,      // kick on 1 and 3, snare on 2 and 4, hi-hat eighths
};
std::vector<float> drumLoop(double bpm, double sampleRate, double seconds, DrumStyle style);

// A new WAV file of interleaved frames: 16-bit, or 32-bit float.
void writeWav(const QString &path, const std::vector<float> &interleaved, int channels, int rate,
              bool floatSamples = false);

// A 16-bit mono WAV that states frames and is made that long without writing them (sparse).
void writeLongSilentWav(const QString &path, std::int64_t frames, int rate);

} // namespace tampod::test
