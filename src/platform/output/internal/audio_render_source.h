#pragma once

namespace tampod {

// What AudioOutput mixes. renderAdd runs on the real-time thread: it adds frames into mix
// (interleaved, outputChannels wide) and must not lock, allocate, log or free.
class AudioRenderSource {
public:
    virtual ~AudioRenderSource() = default;
    virtual void renderAdd(float *mix, int frames, int outputChannels) noexcept = 0;
    // Whether renderAdd can give frames frames now without a gap of its own making (an output
    // that pulls on demand waits for it; a device never does). Real-time rules as above.
    virtual bool canRender(int frames) const noexcept
    {
        (void)frames;
        return true;
    }
};

} // namespace tampod
