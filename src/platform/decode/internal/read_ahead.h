#pragma once

// Private to the platform module.

#include "platform/decode/internal/decoded_stream.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tampod {

// Decodes the frames [start, end) of a file ahead of its one reader, on several threads: each
// worker has a stream of its own and decodes whole segments, which come out in order as
// interleaved floats. A worker whose stream fails marks its segment failed; the reader then
// decodes from there itself, so errors surface where they always did.
class ReadAhead {
public:
    using OpenStream = std::function<std::unique_ptr<DecodedStream>()>;

    // Null when fewer than two of the process's worker threads are free: readers at once share
    // one thread per core between them.
    static std::unique_ptr<ReadAhead> start(OpenStream open, int channels, int64_t start, int64_t end,
                                            int64_t segmentFrames);
    ReadAhead(OpenStream open, int channels, int64_t start, int64_t end, int workers, int64_t segmentFrames);
    ~ReadAhead(); // stops the workers and waits for them
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // The next segment into frames (its old buffer is reused); false when the segment failed
    // or none is left. Throws Cancelled while it waits on a cancelled token.
    bool next(std::vector<float> &frames, const CancellationToken &token);

private:
    struct Segment {
        std::vector<float> samples;
        bool ok = false;
    };
    void work();

    // thread: the constants are read by every worker; each worker's stream is its own.
    const OpenStream open_;
    const int channels_;
    const int64_t start_;
    const int64_t end_;
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
