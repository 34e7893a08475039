#pragma once

#include "concurrency/cancellation.h"
#include "export/pcm_output_format.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace tampod {

class AudioFileWriter;

// The file of a PCM export (or the float intermediate of a treated one), laid out as its
// PCMOutputFormat says. Created exclusively, removed unless finished. Float → integer
// conversion is the audio layer's: rounded half away from zero, clamped, NaN and infinities 0.
// Failures are the audio layer's errors (AudioFileError, SystemError).
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
