#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tampod {

// Decodes the frames [start, end) of a file ahead of its one reader, on several threads: each
// worker has a stream of its own and decodes whole segments, which come out in order as
// interleaved floats. A worker whose stream fails marks its segment failed; the reader then
// decodes from there itself, so errors surface where they always did.
// Each worker reaches its segment by a seek, which a stream whose frames repeat a number may
// place on another copy of the frame it wants: so each segment begins with the frame before its
// first, and tells where the frames that held that one and its last end (heldFrameEnd), for the
// reader to see that the segments join as a read through them would.
class ReadAhead {
public:
    using OpenStream = std::function<std::unique_ptr<DecodedStream>()>;

    // Null when fewer than two of the process's worker threads are free: readers at once share
    // one thread per core between them. The first segment is firstSegmentFrames long, the others
    // segmentFrames.
    static std::unique_ptr<ReadAhead> start(OpenStream open, int channels, int64_t start, int64_t end,
                                            int64_t firstSegmentFrames, int64_t segmentFrames);
    ReadAhead(OpenStream open, int channels, int64_t start, int64_t end, int workers, int64_t firstSegmentFrames,
              int64_t segmentFrames);
    ~ReadAhead(); // stops the workers and waits for them
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Where the frames that held a segment's frame before its first (enters) and its last frame
    // (leaves) end in the file, where its stream tells.
    struct Ends {
        std::optional<int64_t> enters;
        std::optional<int64_t> leaves;
    };
    // The next segment into frames (its old buffer is reused), and its ends; false when the
    // segment failed or none is left. Throws Cancelled while it waits on a cancelled token.
    bool next(std::vector<float> &frames, const CancellationToken &token, Ends &ends);

private:
    struct Segment {
        std::vector<float> samples;
        Ends ends;
        bool ok = false;
    };
    void work();
    int64_t segmentStart(int64_t index) const;

    // thread: the constants are read by every worker; each worker's stream is its own.
    const OpenStream open_;
    const int channels_;
    const int64_t start_;
    const int64_t end_;
    const int64_t firstSegmentFrames_;
    const int64_t segmentFrames_;
    const int64_t count_;
    const int64_t ahead_; // segments decoded or in work beyond the one the reader takes next

    std::mutex mutex_;
    std::condition_variable changed_;
    // thread: guarded by mutex_.
    bool stopping_ = false;
    int64_t assigned_ = 0; // segments handed to workers
    int64_t taken_ = 0;    // segments the reader took
    std::map<int64_t, Segment> finished_;
    std::vector<std::vector<float>> spare_; // buffers the reader is done with

    std::vector<std::jthread> workers_; // declared last: they stop and join first
};

} // namespace tampod
