#pragma once

// Private to the platform module.

#include "concurrency/cancellation.h"
#include "platform/decode/audio_file_format.h"
#include "platform/decode/media_tag_reader.h"
#include "platform/decode/internal/sample_sink.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

class FileHandle;
class FramePositionIndex;

// The operations the reader's errors name.
inline QString openingText() { return QStringLiteral("Opening the audio file"); }
inline QString decodingText() { return QStringLiteral("Decoding audio"); }

// A read the system failed (EIO, say, from a bad sector or a dropped share) fails the stream as
// an input error, wherever it falls: the bytes that did arrive are never taken for the whole.
[[noreturn]] void failRead(int errnoValue, const QString &operation);
// A FLAC stream whose frames do not come in order is refused where operation met them: it has no
// one length to read, seek in and export.
[[noreturn]] void failFramesOutOfOrder(const QString &operation);

// What a stream's count learned that another stream of the same unchanged file takes in place
// of a decode pass of its own: the length, and what the pass gathered that seeks need. Never
// changed once made, so streams on any thread share it.
struct CountedLength {
    int64_t frames = 0;
    std::shared_ptr<const FramePositionIndex> frameIndex; // of a stream that seeks by one
    size_t memoryBytes = 0;                               // held by frameIndex
    // Of a FLAC stream: whole frames the pass met numbered before one already passed.
    bool framesOutOfOrder = false;
};

// A file's audio stream decoded at its own rate: what AudioFileReader converts and resamples.
// Frames are file frames. Every failure is a typed error (AudioFileError, Cancelled).
class DecodedStream {
public:
    virtual ~DecodedStream() = default;

    virtual const AudioFileFormat &format() const = 0;
    // The exact length where it is known without decoding to the end. A damaged stream that
    // ends before its stated length changes it to the frames it delivered.
    virtual std::optional<int64_t> knownLength() const = 0;
    // Decodes to the end and returns the exact length; seek afterwards.
    virtual int64_t countLength() = 0;
    // After countLength: what it learned, for another stream of the same file; none where
    // there is nothing to share.
    virtual std::shared_ptr<const CountedLength> counted() const { return nullptr; }
    // Takes what another stream's count of the same unchanged file learned, in place of
    // countLength; false where this stream cannot, and counts itself.
    virtual bool adoptCount(const CountedLength &) { return false; }

    virtual int64_t position() const = 0;
    // Frame-accurate; a frame past the end leaves the stream at its end.
    virtual void seek(int64_t frame) = 0;
    // Up to frames frames into sink; 0 only at the end.
    virtual int64_t read(const SampleSink &sink, int64_t frames) = 0;

    virtual void setCancellationToken(CancellationToken token) = 0;

    // The demuxer's tags as MediaTagReader::read reports them, kept by a glance that opened
    // the file as that reader does; none otherwise.
    virtual std::optional<QList<QList<MediaTagReader::Tag>>> demuxerTags() const { return std::nullopt; }

    // Where in the file the frame that held the last frame delivered ends, where the stream
    // tells: two reads that meet in one frame tell the same place.
    virtual std::optional<int64_t> heldFrameEnd() const { return std::nullopt; }
};

// Opens the audio stream of an outside file already opened by the caller, who keeps file open
// for the stream's life: FFmpeg, or libsndfile where it reads the same PCM faster. glance: the
// caller reads a few frames only, where a faster whole-file decoder would not pay its start.
std::unique_ptr<DecodedStream> openDecodedStream(const FileHandle &file, CancellationToken token,
                                                 bool glance = false);
// Headerless big-endian signed PCM, through FFmpeg's raw PCM demuxer for those parameters.
std::unique_ptr<DecodedStream> openRawPCMStream(const FileHandle &file, int sampleRate, int channels, int bits,
                                                CancellationToken token);

} // namespace tampod
