#pragma once

// Private to the platform module.

#include <cstdint>
#include <span>
#include <vector>

namespace tampod::flaclength {

// A FLAC stream's frames as a pass from its first frame meets them (the demuxed packets of a
// count): whether a whole frame (its checksums holding) comes numbered before one already passed,
// as where a second file was joined on or a frame copied after the end.
class FrameOrder {
public:
    // streamInfo, fixedBlock: as flaclength::frameStart takes them.
    explicit FrameOrder(std::span<const uint8_t> streamInfo, int64_t fixedBlock = 0);
    // One frame, exactly its bytes.
    void note(std::span<const uint8_t> frame);
    // Where the frames are due from: the stream's first frame's number, as its header gives it.
    void expect(int64_t firstSample) { expected_ = firstSample; }
    bool outOfOrder() const { return outOfOrder_; }

private:
    std::vector<uint8_t> streamInfo_;
    int64_t fixedBlock_ = 0;
    int64_t expected_ = 0; // the first sample of the frame that comes next in order
    bool outOfOrder_ = false;
};

} // namespace tampod::flaclength
