#pragma once

#include "concurrency/cancellation.h"
#include "library/export_format.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace tampod {

class AudioFileWriter;

// The integer PCM file of a PCM export in its container: WAV (little-endian; 8-bit unsigned),
// AIFF (big-endian signed), or an SD2 data fork (headerless big-endian signed); or the 32-bit
// float intermediate of a treated export. Created exclusively, removed unless finished.
// Float → integer conversion is the audio layer's: rounded half away from zero, clamped, NaN
// and infinities 0. Failures are the audio layer's errors (AudioFileError, SystemError).
struct PCMOutputFormat {
    ExportFormat container = ExportFormat::wav; // wav, aiff or sd2; floatIntermediate ignores it
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    bool floatIntermediate = false;

    // The PCM path's output of settings: WAV, SD2, and AIFF for every other format.
    static PCMOutputFormat integer(ExportFormat format, int sampleRate, int channels, int bits);
    static PCMOutputFormat intermediate(int sampleRate, int channels);
    // WAV 8-bit is the one unsigned layout.
    bool isSigned() const { return !floatIntermediate && !(container == ExportFormat::wav && bits == 8); }
    std::int64_t bytesPerFrame() const { return std::int64_t(channels) * (bits / 8); }
};

class PCMOutputFile {
public:
    // integers: the file takes left-justified 32-bit samples (writeIntegers) instead of floats,
    // each narrowed by dropping low bits: lossless for samples of at most the file's depth.
    PCMOutputFile(const QString &path, const PCMOutputFormat &format, const CancellationToken &token,
                  bool integers = false);
    ~PCMOutputFile();
    PCMOutputFile(const PCMOutputFile &) = delete;
    PCMOutputFile &operator=(const PCMOutputFile &) = delete;

    void write(const float *interleaved, std::int64_t frames);
    void writeIntegers(const std::int32_t *interleaved, std::int64_t frames);
    // Whether integer samples can go straight into a file of this format.
    static bool takesIntegers(const PCMOutputFormat &format);
    void finish();

private:
    struct Writer;
    std::unique_ptr<Writer> writer_;
};

} // namespace tampod
