#pragma once

#include "concurrency/cancellation.h"
#include "core/exclusive_file.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace tampod {

class AudioEncoder;

enum class AudioFileType { wav, aiff, caf, flac, m4a };

// What to write. Supported: WAV 8-bit (unsigned), 16/24/32-bit signed or 32-bit float;
// AIFF 8/16/24/32-bit signed; CAF 32-bit float; FLAC 16/24-bit; M4A AAC-LC at bitRate.
struct AudioWriteFormat {
    AudioFileType type = AudioFileType::wav;
    int sampleRate = 44100;
    int channels = 2;
    int bitsPerChannel = 16; // ignored for M4A
    bool isFloat = false;
    int bitRate = 0; // M4A: bits per second asked of the encoder
};

// Writes a new audio file from float interleaved frames. The file is created exclusively
// (an existing file or symbolic link at the path is an error, never replaced) and is removed
// again unless finish() succeeds. Float → integer conversion rounds half away from zero and
// clamps; NaN and infinities become 0. Every failure is a typed error: AudioFileError with
// the library's status as code, SystemError for the file itself, Cancelled.
// thread: one thread at a time.
class AudioFileWriter {
public:
    AudioFileWriter(const QString &path, const AudioWriteFormat &format,
                    CancellationToken token = {});
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter &) = delete;
    AudioFileWriter &operator=(const AudioFileWriter &) = delete;

    const AudioWriteFormat &format() const noexcept { return format_; }
    // M4A: the bit rate the encoder settled on (may differ from the request); else 0.
    int bitRate() const noexcept;
    int64_t framesWritten() const noexcept { return framesWritten_; }

    void writeInterleaved(const float *frames, int64_t count);
    // Completes and closes the file. After a failure the file is gone.
    void finish();

private:
    AudioWriteFormat format_;
    QString path_;
    CancellationToken token_;
    ExclusiveFile file_;
    std::unique_ptr<AudioEncoder> encoder_; // declared after file_: destroyed before the fd closes
    int64_t framesWritten_ = 0;
    bool finished_ = false;
};

} // namespace tampod
