#include "platform/decode/internal/read_ahead.h"

#include "concurrency/thread_start.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace tampod {

namespace {

constexpr int maximumWorkers = 6;

// Workers of every read-ahead in the process (an export verifies in several spans at once).
// thread: any.
std::atomic<int> workersRunning{0};

int reserveWorkers()
{
    const int budget = std::max(0, int(std::thread::hardware_concurrency()) - 1);
    int running = workersRunning.load();
    for (;;) {
        const int granted = std::min(maximumWorkers, budget - running);
        if (granted < 2)
            return 0;
        if (workersRunning.compare_exchange_weak(running, running + granted))
            return granted;
    }
}

} // namespace

std::unique_ptr<ReadAhead> ReadAhead::start(OpenStream open, int channels, int64_t start, int64_t end,
                                            int64_t firstSegmentFrames, int64_t segmentFrames)
{
    const int workers = reserveWorkers();
    if (workers == 0)
        return nullptr;
    return std::make_unique<ReadAhead>(std::move(open), channels, start, end, workers, firstSegmentFrames,
                                       segmentFrames);
}

ReadAhead::ReadAhead(OpenStream open, int channels, int64_t start, int64_t end, int workers,
                     int64_t firstSegmentFrames, int64_t segmentFrames)
    : open_(std::move(open)), channels_(channels), start_(start), end_(end),
      firstSegmentFrames_(std::clamp<int64_t>(firstSegmentFrames, 1, std::max<int64_t>(1, end - start))),
      segmentFrames_(segmentFrames),
      count_(1 + (end - start - firstSegmentFrames_ + segmentFrames - 1) / segmentFrames), ahead_(int64_t(workers) + 2)
{
    for (int i = 0; i < workers; ++i)
        workers_.push_back(startThread([this] { work(); }));
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const int workers = int(workers_.size());
    workers_.clear(); // joins
    workersRunning -= workers;
}

int64_t ReadAhead::segmentStart(int64_t index) const
{
    return index == 0 ? start_ : std::min(end_, start_ + firstSegmentFrames_ + (index - 1) * segmentFrames_);
}

void ReadAhead::work()
{
    std::unique_ptr<DecodedStream> stream;
    try {
        stream = open_();
    } catch (...) {
        // every segment of this worker fails, and the reader decodes it
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || (assigned_ < count_ && assigned_ < taken_ + ahead_); });
        if (stopping_)
            return;
        const int64_t index = assigned_++;
        Segment segment;
        if (!spare_.empty()) {
            segment.samples = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();

        const int64_t from = segmentStart(index);
        const int64_t frames = segmentStart(index + 1) - from;
        // Room for a whole segment, so a buffer taken again after a shorter first one is not
        // allocated anew (a freed block this large would raise glibc's threshold for mapping
        // blocks apart from the heap, which keeps what it once held).
        segment.samples.reserve(size_t(segmentFrames_ * channels_));
        segment.samples.resize(size_t(frames * channels_));
        segment.ends = {};
        try {
            if (stream) {
                // From the frame before its first: the frame that holds it is the one the segment
                // before ended in.
                stream->seek(std::max<int64_t>(from - 1, 0));
                if (from > 0 && stream->read(SampleSink{}, 1) == 1)
                    segment.ends.enters = stream->heldFrameEnd();
                SampleSink sink;
                sink.layout = SampleSink::Layout::floatInterleaved;
                sink.channels = channels_;
                sink.interleaved = segment.samples.data();
                segment.ok = stream->position() == from && stream->read(sink, frames) == frames;
                segment.ends.leaves = stream->heldFrameEnd();
            }
        } catch (...) {
            segment.ok = false;
        }

        lock.lock();
        finished_[index] = std::move(segment);
        changed_.notify_all();
    }
}

bool ReadAhead::next(std::vector<float> &frames, const CancellationToken &token, Ends &ends)
{
    std::unique_lock lock(mutex_);
    if (taken_ >= count_)
        return false;
    // Woken by every finished segment; the timeout only serves the token.
    while (!changed_.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished_.count(taken_) > 0; }))
        token.throwIfCancelled();
    auto found = finished_.find(taken_);
    Segment segment = std::move(found->second);
    finished_.erase(found);
    ++taken_;
    if (!frames.empty())
        spare_.push_back(std::move(frames));
    lock.unlock();
    changed_.notify_all();
    frames = std::move(segment.samples);
    ends = segment.ends;
    return segment.ok;
}

} // namespace tampod
