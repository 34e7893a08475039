#pragma once

#include "concurrency/cancellation.h"
#include "core/exclusive_file.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tampod {

// Writes headerless big-endian signed integer PCM, the data fork of an SD2 file. Created
// exclusively like AudioFileWriter and removed again unless finish() succeeds. Float samples are
// converted by the audio layer's one rule (rounded half away from zero, clamped, NaN and
// infinities 0); left-justified 32-bit samples are narrowed by dropping their low bits.
// thread: one thread at a time.
class RawPCMWriter {
public:
    // bitsPerSample 8, 16, 24 or 32; channels 1–64.
    RawPCMWriter(const QString &path, int channels, int bitsPerSample, CancellationToken token = {});
    ~RawPCMWriter();
    RawPCMWriter(const RawPCMWriter &) = delete;
    RawPCMWriter &operator=(const RawPCMWriter &) = delete;

    void writeInterleaved(const float *frames, std::int64_t count);
    void writeInt32Interleaved(const std::int32_t *samples, std::int64_t count);
    void finish();

private:
    void writeBuffer();

    ExclusiveFile file_;
    CancellationToken token_;
    int channels_;
    int bits_;
    QByteArray buffer_;
    bool finished_ = false;
};

} // namespace tampod
