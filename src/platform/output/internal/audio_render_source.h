#pragma once

namespace tampod {

// What AudioOutput mixes. renderAdd runs on the real-time thread: it adds frames into mix
// (interleaved, outputChannels wide) and must not lock, allocate, log or free.
class AudioRenderSource {
public:
    virtual ~AudioRenderSource() = default;
    virtual void renderAdd(float *mix, int frames, int outputChannels) noexcept = 0;
};

} // namespace tampod
