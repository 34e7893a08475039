#pragma once

#include "concurrency/cancellation.h"
#include "platform/decode/audio_file_format.h"
#include "platform/decode/media_tag_reader.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

// Reads any audio file we decode, block by block, at the file's rate or at a client rate.
//
// Frames are counted at the processing rate (the client rate when one is set, else the
// file's). length() is exact: a full read from frame 0 delivers exactly that many frames
// (at a client rate, processingLength() = round(length × client / file)). A read returns 0
// frames only at the end. Every failure is a typed error: AudioFileError (io where the system
// fails a read of the opened file), SystemError when the file cannot be opened, Cancelled when
// the token is cancelled.
// thread: one thread at a time; not shared.
class AudioFileReader {
public:
    static constexpr int64_t defaultBlockFrames = 8192;

    // Headerless big-endian signed PCM (an SD2 data fork), which says nothing of itself.
    struct RawPCMFormat {
        int sampleRate = 0;
        int channels = 1; // 1 or 2
        int bits = 16;    // 8, 16, 24 or 32
    };

    // What the caller means to read: everything it may, or a glance at the first frames (to
    // see that a file opens and starts), which spares the set-up that pays off on long reads.
    enum class Use { reading, glance };

    explicit AudioFileReader(const QString &path, CancellationToken token = {}, Use use = Use::reading);
    // Refused parameters are AudioFileError invalidArgument.
    AudioFileReader(const QString &path, const RawPCMFormat &raw, CancellationToken token = {});
    ~AudioFileReader();
    AudioFileReader(AudioFileReader &&) noexcept;
    AudioFileReader &operator=(AudioFileReader &&) noexcept;
    AudioFileReader(const AudioFileReader &) = delete;
    AudioFileReader &operator=(const AudioFileReader &) = delete;

    const AudioFileFormat &fileFormat() const;
    int channels() const;
    double fileSampleRate() const;

    // Converts to a whole sample rate from here on (nullopt: back to the file's rate).
    // The position restarts at frame 0.
    void setClientSampleRate(std::optional<double> rate);
    double processingSampleRate() const;

    // The exact length in file frames. Where the container only estimates it, or states a
    // count the file does not bear out (a FLAC or MP3 file cut short, joined or overstated),
    // the first call counts by a decode pass (cancellable) and keeps the result, which every
    // later reader of the same unchanged file in the process takes in place of a pass of its
    // own (not a raw PCM reader's, whose count is its parameters'). A packet the
    // decoder rejects is silence where the container counted it, and uncounted where the decode
    // counts; a packet cut short by the file's end ends it, while a read the system fails (EIO,
    // anywhere in the file) is AudioFileError io. A damaged file that still decodes to
    // fewer frames than its header states ends early; from then on this reports the frames
    // delivered.
    int64_t length();
    // The length at the processing rate.
    int64_t processingLength();

    int64_t position() const; // at the processing rate
    // Frame-accurate: the next read starts with the sample a read from 0 delivers at frame.
    // A frame at or past the end leaves the reader at the end.
    void seek(int64_t frame);

    // Each reads up to maxFrames frames at the position and returns how many it delivered.
    // Planar: one pointer per channel. Int32: interleaved, left-justified (lossless for 8- to
    // 32-bit integer sources at the file's rate).
    int64_t readFloatPlanar(float *const *channels, int64_t maxFrames);
    int64_t readFloatInterleaved(float *frames, int64_t maxFrames);
    int64_t readInt32Interleaved(int32_t *frames, int64_t maxFrames);

    void setCancellationToken(CancellationToken token);

    // What MediaTagReader::read would report of this file, where a glance already opened the
    // demuxer just as that reader does; none otherwise.
    std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tampod
