#include "platform/decode/internal/flac/flac_decoded_stream.h"

#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/read_ahead.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <unistd.h>
#include <vector>

namespace tampod {

namespace {

// A forward seek this short decodes its way there: cheaper than libFLAC's search.
constexpr int64_t shortSkipFrames = 1 << 15;
// A reader that goes on without a seek for this long, several times faster than real time, is
// reading the whole file (an overview, an analysis, an export): frames are then decoded ahead
// on several threads. Playback reads in real time and never starts them.
constexpr int64_t readAheadAfterFrames = 1 << 18;
constexpr int readAheadSpeed = 4;
constexpr int64_t readAheadSegmentFrames = 1 << 17;

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder *decoder) const { FLAC__stream_decoder_delete(decoder); }
};

// Samples as libFLAC hands them over, right-justified in bits bits, into the sink. The float
// scale is a power of two, so float(v) × scale rounds exactly as FFmpeg's left-justified
// integers do through SampleValue.
struct FlacSamples {
    const FLAC__int32 *const *channels;
    int64_t from;
    float scale;
    int shift;

    void deliver(int64_t count, const SampleSink &sink) const
    {
        const int n = sink.channels;
        switch (sink.layout) {
        case SampleSink::Layout::floatInterleaved: {
            float *out = sink.interleaved + sink.offset * n;
            if (n == 2) { // the common case, kept simple enough to vectorise
                const FLAC__int32 *left = channels[0] + from, *right = channels[1] + from;
                for (int64_t i = 0; i < count; ++i) {
                    out[2 * i] = float(left[i]) * scale;
                    out[2 * i + 1] = float(right[i]) * scale;
                }
                return;
            }
            for (int c = 0; c < n; ++c) {
                const FLAC__int32 *in = channels[c] + from;
                for (int64_t i = 0; i < count; ++i)
                    out[i * n + c] = float(in[i]) * scale;
            }
            return;
        }
        case SampleSink::Layout::floatPlanar:
            for (int c = 0; c < n; ++c) {
                const FLAC__int32 *in = channels[c] + from;
                float *out = sink.planar[c] + sink.offset;
                for (int64_t i = 0; i < count; ++i)
                    out[i] = float(in[i]) * scale;
            }
            return;
        case SampleSink::Layout::int32Interleaved: {
            int32_t *out = sink.ints + sink.offset * n;
            for (int c = 0; c < n; ++c) {
                const FLAC__int32 *in = channels[c] + from;
                for (int64_t i = 0; i < count; ++i)
                    out[i * n + c] = int32_t(uint32_t(in[i]) << shift);
            }
            return;
        }
        case SampleSink::Layout::discard:
            return;
        }
    }
};

class FlacStream final : public DecodedStream {
public:
    // Without a fallback the stream throws at the first damage: a read-ahead worker's stream.
    FlacStream(int fd, int64_t start, int64_t size, const AudioFileFormat &format, int64_t length,
               int64_t firstSample, FallbackStream fallback, CancellationToken token)
        : fd_(fd), start_(start), size_(size), format_(format), length_(length), firstSample_(firstSample),
          scale_(1.0f / float(int64_t{1} << (format.bitsPerChannel - 1))),
          shift_(32 - format.bitsPerChannel), openFallback_(std::move(fallback)), token_(std::move(token))
    {
    }

    // Whether libFLAC reads the stream FFmpeg described: same rate, channels, bits and length
    // (from the first frame's number on).
    bool open()
    {
        decoder_.reset(FLAC__stream_decoder_new());
        if (!decoder_
            || FLAC__stream_decoder_init_stream(decoder_.get(), &FlacStream::readCallback, &FlacStream::seekCallback,
                                                &FlacStream::tellCallback, &FlacStream::lengthCallback,
                                                &FlacStream::eofCallback, &FlacStream::writeCallback,
                                                &FlacStream::metadataCallback, &FlacStream::errorCallback, this)
                   != FLAC__STREAM_DECODER_INIT_STATUS_OK
            || !FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || damaged_ || !info_)
            return false;
        return int(info_->channels) == format_.channels && double(info_->sample_rate) == format_.sampleRate
               && int(info_->bits_per_sample) == format_.bitsPerChannel
               && int64_t(info_->total_samples) == firstSample_ + length_ && framesNumberedAsLibFlacTells();
    }

    const AudioFileFormat &format() const override { return format_; }
    std::optional<int64_t> knownLength() const override
    {
        return fallback_ ? fallback_->knownLength() : std::optional<int64_t>(length_);
    }
    int64_t countLength() override { return fallback_ ? fallback_->countLength() : length_; }
    int64_t position() const override { return fallback_ ? fallback_->position() : position_; }
    std::optional<int64_t> heldFrameEnd() const override
    {
        return fallback_ || frameEnd_ < 0 ? std::nullopt : std::optional<int64_t>(frameEnd_);
    }

    void setCancellationToken(CancellationToken token) override
    {
        if (fallback_)
            fallback_->setCancellationToken(token);
        token_ = std::move(token);
    }

    void seek(int64_t target) override
    {
        if (fallback_)
            return fallback_->seek(target);
        token_.throwIfCancelled();
        // Frames out of order were refused: the seek reads as a stream opened afresh does.
        if (outOfOrder_) {
            stopReadAhead();
            if (!rewind()) {
                handOver();
                return fallback_->seek(target);
            }
        }
        target = std::min(target, length_);
        if (target == position_)
            return;
        if (target > position_ && target - position_ <= shortSkipFrames) {
            read(SampleSink{}, target - position_);
            return;
        }
        sequentialFrames_ = 0;
        stopReadAhead();
        restartAt(target);
    }

    int64_t read(const SampleSink &sink, int64_t maxFrames) override
    {
        if (fallback_)
            return fallback_->read(sink, maxFrames);
        const int64_t frames = std::min(maxFrames, length_ - position_);
        if (sequentialFrames_ == 0)
            sequentialSince_ = std::chrono::steady_clock::now();
        int64_t done = takePending(sink, frames);
        if (done < frames && (readAhead_ || startReadAhead())) {
            done += readAhead(sink.at(done), frames - done);
            // Where the segments stopped, libFLAC's decoder holds the rest of the frame it went on in.
            done += takePending(sink.at(done), frames - done);
        }
        if (fallback_) // libFLAC could not go on where the segments stopped
            return done + fallback_->read(sink.at(done), maxFrames - done);
        while (done < frames) {
            token_.throwIfCancelled();
            sink_ = &sink;
            sinkOffset_ = done;
            sinkWanted_ = frames - done;
            sinkDelivered_ = 0;
            framesWritten_ = 0;
            const bool decoded = FLAC__stream_decoder_process_single(decoder_.get());
            sink_ = nullptr;
            done += sinkDelivered_;
            position_ += sinkDelivered_;
            if (!decoded || damaged_ || sinkDelivered_ == 0) {
                // A whole frame numbered before the one due: a piece repeated where two were
                // joined, a stray copy of a frame.
                if (outOfOrder_)
                    failFramesOutOfOrder(decodingText());
                handOver();
                return done + fallback_->read(sink.at(done), maxFrames - done);
            }
        }
        sequentialFrames_ += done;
        return done;
    }

private:
    // Puts libFLAC's own decoder on target; the pending samples are then the target's frame.
    void restartAt(int64_t target)
    {
        pendingFrames_ = 0;
        if (target == length_) { // libFLAC refuses a seek to the end; nothing is read there
            position_ = length_;
            return;
        }
        seekTarget_ = target;
        framesWritten_ = 0;
        const bool found = FLAC__stream_decoder_seek_absolute(decoder_.get(), FLAC__uint64(firstSample_ + target));
        seekTarget_.reset();
        if (!found || damaged_ || pendingFrames_ == 0) {
            handOver();
            return fallback_->seek(target);
        }
        position_ = target;
    }

    // Goes on at the position in the frame that held the frame before it, which ends at
    // frameEnd: a seek by the frames' numbers may find another copy of it.
    void goOnFrom(std::optional<int64_t> frameEnd)
    {
        const int64_t target = position_;
        restartAt(target - 1);
        if (fallback_)
            return fallback_->seek(target);
        if (frameEnd && heldFrameEnd() == frameEnd && pendingFrames_ > 0) {
            takePending(SampleSink{}, 1);
            return;
        }
        readInOrderTo(target);
    }

    // Reads from the first frame up to target, every frame in the order the file holds them;
    // once for the stream, which reads on without segments from there.
    void readInOrderTo(int64_t target)
    {
        segmentsJoin_ = false;
        if (!rewind()) {
            handOver();
            fallback_->seek(target);
            return;
        }
        while (position_ < target && read(SampleSink{}, target - position_) > 0) {
        }
    }

    // libFLAC's decoder back before the first frame, as the open left it; false where the
    // stream cannot be read there again.
    bool rewind()
    {
        pendingFrames_ = 0;
        position_ = 0;
        sequentialFrames_ = 0;
        frameEnd_ = -1;
        damaged_ = outOfOrder_ = false;
        return FLAC__stream_decoder_reset(decoder_.get())
               && FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) && !damaged_;
    }

    // Where STREAMINFO's smallest and largest block sizes differ, libFLAC hands over a frame of a
    // fixed block size with its frame number in place of its first sample, and cannot seek by it:
    // only a stream whose first frame is numbered by its samples is read here.
    bool framesNumberedAsLibFlacTells()
    {
        if (info_->min_blocksize == info_->max_blocksize)
            return true;
        FLAC__uint64 first = 0;
        uint8_t sync[2] = {};
        return FLAC__stream_decoder_get_decode_position(decoder_.get(), &first)
               && FileSystemCall::readAt(fd_, sync, sizeof sync, start_ + int64_t(first)) == ssize_t(sizeof sync)
               && sync[0] == 0xFF && sync[1] == 0xF9;
    }

    // Decodes ahead on several threads while the whole file is being read; false where that
    // is not worth it or floats would not carry the samples exactly.
    bool startReadAhead()
    {
        if (!openFallback_ || format_.bitsPerChannel > 24 || sequentialFrames_ < readAheadAfterFrames
            || length_ - position_ < 4 * readAheadSegmentFrames || !segmentsJoin_)
            return false;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sequentialSince_).count();
        if (seconds * readAheadSpeed * format_.sampleRate > double(sequentialFrames_))
            return false;
        const int fd = fd_;
        const int64_t start = start_;
        const int64_t size = size_;
        const AudioFileFormat format = format_;
        const int64_t length = length_;
        const int64_t firstSample = firstSample_;
        const CancellationToken token = token_;
        // Segments that begin inside a frame, so the frame before each first is already decoded;
        // fixed block sizes divide the segments' length.
        const int64_t block = info_ ? int64_t(info_->max_blocksize) : 0;
        joinsAt_ = heldFrameEnd();
        readAhead_ = ReadAhead::start(
            [=]() -> std::unique_ptr<DecodedStream> {
                auto stream = std::make_unique<FlacStream>(fd, start, size, format, length, firstSample,
                                                           FallbackStream{}, token);
                if (!stream->open())
                    return nullptr;
                return stream;
            },
            format_.channels, position_, length_, readAheadSegmentFrames - block / 2, readAheadSegmentFrames);
        return readAhead_ != nullptr;
    }

    int64_t readAhead(const SampleSink &sink, int64_t frames)
    {
        const int channels = format_.channels;
        int64_t done = 0;
        while (done < frames) {
            const int64_t available = int64_t(segment_.size()) / channels - segmentUsed_;
            if (available > 0) {
                const int64_t n = std::min(available, frames - done);
                deliverInterleaved(segment_.data() + segmentUsed_ * channels, n, sink.at(done));
                segmentUsed_ += n;
                done += n;
                position_ += n;
                continue;
            }
            segmentUsed_ = 0;
            ReadAhead::Ends ends;
            const bool ok = readAhead_->next(segment_, token_, ends);
            const bool joins = ends.enters && ends.enters == joinsAt_;
            if (!ok || !joins) {
                // Damage, the end, or a segment reached on another frame than the one the read
                // before it ended in: from here libFLAC's own decoder goes on, one frame at a time.
                stopReadAhead();
                sequentialFrames_ = 0; // not again until libFLAC has read on past what stopped them
                if (position_ < length_)
                    goOnFrom(ok && !joins ? std::nullopt : joinsAt_);
                break;
            }
            joinsAt_ = ends.leaves;
        }
        return done;
    }

    void stopReadAhead()
    {
        readAhead_.reset();
        segment_.clear();
        segment_.shrink_to_fit();
        segmentUsed_ = 0;
    }

    int64_t takePending(const SampleSink &sink, int64_t frames)
    {
        const int64_t n = std::min(frames, pendingFrames_);
        if (n == 0)
            return 0;
        pendingChannels_.resize(size_t(format_.channels));
        for (int c = 0; c < format_.channels; ++c)
            pendingChannels_[size_t(c)] = pending_.data() + size_t(c) * pendingStride_;
        FlacSamples{pendingChannels_.data(), pendingStart_, scale_, shift_}.deliver(n, sink);
        pendingStart_ += n;
        pendingFrames_ -= n;
        position_ += n;
        return n;
    }

    // From here on FFmpeg decodes, from a read at frame 0 up to where this stream stood, so
    // what follows is exactly what a decode by FFmpeg alone delivers.
    // Where libFLAC stopped short: a cancelled task or a failed read ends here; damage hands the
    // stream to FFmpeg at the frame reached.
    void handOver()
    {
        token_.throwIfCancelled();
        if (readError_)
            failRead(readError_, decodingText());
        if (!openFallback_)
            throw AudioFileError(AudioFileError::Kind::malformed, 0, decodingText());
        const int64_t resume = position_;
        decoder_.reset();
        fallback_ = openFallback_(token_);
        while (fallback_->position() < resume && fallback_->read(SampleSink{}, resume - fallback_->position()) > 0) {
        }
    }

    FLAC__StreamDecoderWriteStatus write(const FLAC__Frame *frame, const FLAC__int32 *const buffer[])
    {
        const FLAC__FrameHeader &header = frame->header;
        const int64_t first = int64_t(header.number.sample_number);
        const int64_t expected = firstSample_ + (seekTarget_ ? *seekTarget_ : position_ + sinkDelivered_);
        // Where frames are missing, libFLAC hands over silence in their place, and in place of
        // the whole frame that follows them too, all at once: from the second of those frames on
        // FFmpeg decodes, which keeps that frame's audio.
        if (damaged_ || ++framesWritten_ > 1 || int(header.channels) != format_.channels || int(header.bits_per_sample) != format_.bitsPerChannel
            || double(header.sample_rate) != format_.sampleRate || first != expected) {
            // libFLAC hands over only frames whose checksums hold.
            outOfOrder_ = !damaged_ && framesWritten_ == 1 && !seekTarget_ && first < expected;
            damaged_ = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        FLAC__uint64 end = 0;
        frameEnd_ = decoder_ && FLAC__stream_decoder_get_decode_position(decoder_.get(), &end) ? int64_t(end) : -1;
        const int64_t blocksize = header.blocksize;
        const int64_t direct = sink_ ? std::min(blocksize, sinkWanted_ - sinkDelivered_) : 0;
        const FlacSamples samples{buffer, 0, scale_, shift_};
        if (direct > 0) {
            samples.deliver(direct, sink_->at(sinkOffset_ + sinkDelivered_));
            sinkDelivered_ += direct;
        }
        // The rest of a frame waits for the next read.
        const int64_t rest = blocksize - direct;
        pendingStart_ = 0;
        pendingFrames_ = rest;
        if (rest > 0) {
            pendingStride_ = size_t(rest);
            pending_.resize(size_t(format_.channels) * pendingStride_);
            for (int c = 0; c < format_.channels; ++c)
                std::copy_n(buffer[c] + direct, rest, pending_.data() + size_t(c) * pendingStride_);
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static FlacStream &self(void *data) { return *static_cast<FlacStream *>(data); }

    static FLAC__StreamDecoderReadStatus readCallback(const FLAC__StreamDecoder *, FLAC__byte buffer[],
                                                      size_t *bytes, void *data)
    {
        FlacStream &s = self(data);
        if (s.token_.isCancelled())
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        const int64_t left = s.size_ - s.offset_;
        if (left <= 0) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }
        const ssize_t n = FileSystemCall::readAt(s.fd_, buffer, size_t(std::min<int64_t>(int64_t(*bytes), left)),
                                                 s.start_ + s.offset_);
        if (n < 0) {
            *bytes = 0;
            s.readError_ = errno ? errno : EIO;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = size_t(n);
        s.offset_ += n;
        return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus seekCallback(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *data)
    {
        self(data).offset_ = int64_t(offset);
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus tellCallback(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *data)
    {
        *offset = FLAC__uint64(self(data).offset_);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus lengthCallback(const FLAC__StreamDecoder *, FLAC__uint64 *length,
                                                          void *data)
    {
        *length = FLAC__uint64(self(data).size_);
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool eofCallback(const FLAC__StreamDecoder *, void *data)
    {
        return self(data).offset_ >= self(data).size_;
    }
    static FLAC__StreamDecoderWriteStatus writeCallback(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                        const FLAC__int32 *const buffer[], void *data)
    {
        return self(data).write(frame, buffer);
    }
    static void metadataCallback(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata, void *data)
    {
        if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO)
            self(data).info_ = metadata->data.stream_info;
    }
    // libFLAC reports nothing while it searches for a seek target, so every report is damage.
    static void errorCallback(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *data)
    {
        self(data).damaged_ = true;
    }

    const int fd_;
    const int64_t start_; // of the stream in the file: libFLAC sees the bytes from here on
    const int64_t size_; // of the stream, to the end of its last frame where that is known
    const AudioFileFormat format_;
    const int64_t length_;
    const int64_t firstSample_; // the number of the stream's first frame, which is delivered as frame 0
    const float scale_;
    const int shift_;
    const FallbackStream openFallback_;
    CancellationToken token_;
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder_;
    std::optional<FLAC__StreamMetadata_StreamInfo> info_;
    int64_t offset_ = 0; // libFLAC's read position in the stream
    int readError_ = 0; // of the system, at the last read that failed
    int64_t position_ = 0;
    bool damaged_ = false;
    bool outOfOrder_ = false; // a whole frame came numbered before the one due
    int64_t frameEnd_ = -1;   // in the stream, of the frame that holds the last frame delivered
    std::unique_ptr<DecodedStream> fallback_;

    // The read in progress, for the write callback.
    const SampleSink *sink_ = nullptr;
    int64_t sinkOffset_ = 0;
    int64_t sinkWanted_ = 0;
    int64_t sinkDelivered_ = 0;
    std::optional<int64_t> seekTarget_;
    int framesWritten_ = 0; // by libFLAC in the call in progress

    // Reading the whole file: segments decoded on other threads, the current one partly taken.
    std::unique_ptr<ReadAhead> readAhead_;
    std::vector<float> segment_;
    int64_t segmentUsed_ = 0;
    int64_t sequentialFrames_ = 0; // read since the last seek
    std::optional<int64_t> joinsAt_; // where the next segment's frame before its first must end
    bool segmentsJoin_ = true;       // false once read in order from the first frame
    std::chrono::steady_clock::time_point sequentialSince_;

    // Planar samples of the last frame that the caller has not asked for yet.
    std::vector<FLAC__int32> pending_;
    size_t pendingStride_ = 0;
    int64_t pendingStart_ = 0;
    int64_t pendingFrames_ = 0;
    std::vector<const FLAC__int32 *> pendingChannels_;
};

} // namespace

std::unique_ptr<DecodedStream> openFlacStream(const FileHandle &file, int64_t start, const AudioFileFormat &format,
                                              int64_t length, FallbackStream fallback,
                                              CancellationToken token, std::optional<int64_t> end,
                                              int64_t firstSample)
{
    const int64_t streamEnd = std::min<int64_t>(end.value_or(file.size()), file.size());
    if (format.codec != AudioCodecKind::flac || format.container != u"flac" || format.bitsPerChannel < 4
        || format.bitsPerChannel > 32 || length <= 0 || firstSample < 0 || start < 0 || start >= streamEnd)
        return nullptr;
    auto stream = std::make_unique<FlacStream>(file.fd(), start, streamEnd - start, format, length, firstSample,
                                               std::move(fallback), std::move(token));
    if (!stream->open())
        return nullptr;
    return stream;
}

} // namespace tampod
