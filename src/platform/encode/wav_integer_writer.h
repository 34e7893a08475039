#pragma once

#include "concurrency/cancellation.h"
#include "core/exclusive_file.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tampod {

// Writes the plainest integer PCM WAVE file: a 44-byte header (RIFF, a 16-byte "fmt " chunk,
// "data") followed by the samples, and one pad byte when the data length is odd. Working
// copies whose size limits assume exactly this layout use it. Created exclusively like
// AudioFileWriter, and removed again unless finish() succeeds.
// thread: one thread at a time.
class WavIntegerWriter {
public:
    static constexpr int64_t headerBytes = 44;
    // The largest data length whose whole file still fits the 32-bit RIFF size: 2^32 − 45.
    static constexpr int64_t maximumDataBytes = 4294967251;

    // bitsPerSample 8 (stored unsigned), 16, 24 or 32; channels 1–64.
    WavIntegerWriter(const QString &path, int sampleRate, int channels, int bitsPerSample,
                     CancellationToken token = {});
    ~WavIntegerWriter();
    WavIntegerWriter(const WavIntegerWriter &) = delete;
    WavIntegerWriter &operator=(const WavIntegerWriter &) = delete;

    // Left-justified 32-bit samples, interleaved; each is narrowed by dropping its low bits
    // (lossless for samples read from a file of this depth). Past maximumDataBytes the
    // write fails with AudioFileError (invalidArgument) and nothing of it is written.
    void writeInt32Interleaved(const int32_t *samples, int64_t frames);
    void finish();

    int64_t framesWritten() const noexcept { return dataBytes_ / bytesPerFrame_; }

private:
    QByteArray header() const;

    QString path_;
    CancellationToken token_;
    ExclusiveFile file_;
    int sampleRate_;
    int channels_;
    int bits_;
    int64_t bytesPerFrame_;
    int64_t dataBytes_ = 0;
    QByteArray buffer_;
    bool finished_ = false;
};

} // namespace tampod
