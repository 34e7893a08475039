#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

namespace tampod {

std::shared_ptr<const CountedLength> FfmpegStream::counted() const
{
    if (!description_.exactLength)
        return nullptr;
    auto count = std::make_shared<CountedLength>();
    count->frames = *description_.exactLength;
    count->framesOutOfOrder = framesOutOfOrder_;
    // The index the pass noted lets the other stream seek as this one does, not by a decode
    // from the start.
    if (frameIndex_) {
        count->frameIndex = std::make_shared<const FramePositionIndex>(*frameIndex_);
        count->memoryBytes = frameIndex_->memoryBytes();
    }
    return count;
}

// The same file opened the same way delivers the same frames from the same packets, so the
// other stream's length and frame index are what this one's own pass would find.
bool FfmpegStream::adoptCount(const CountedLength &count)
{
    if (frameIndex_ && count.frameIndex)
        frameIndex_ = std::make_unique<FramePositionIndex>(*count.frameIndex);
    description_.exactLength = count.frames;
    framesOutOfOrder_ = count.framesOutOfOrder;
    return true;
}

} // namespace tampod
