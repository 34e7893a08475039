#include "platform/decode/internal/flac/flac_frame_order.h"

#include "platform/decode/internal/flac/flac_length.h"

namespace tampod::flaclength {

FrameOrder::FrameOrder(std::span<const uint8_t> streamInfo, int64_t fixedBlock)
    : streamInfo_(streamInfo.begin(), streamInfo.end()), fixedBlock_(fixedBlock)
{
}

void FrameOrder::note(std::span<const uint8_t> frame)
{
    const auto header = frameNumbers(frame, streamInfo_, fixedBlock_);
    if (!header)
        return;
    // The next frame in order is taken as it comes; one that goes back or skips ahead counts
    // only where its own checksum holds over the bytes given.
    if (header->firstSample != expected_) {
        if (!frameChecksumHolds(frame))
            return;
        if (header->firstSample < expected_)
            outOfOrder_ = true;
    }
    expected_ = header->firstSample + header->blocksize;
}

} // namespace tampod::flaclength
