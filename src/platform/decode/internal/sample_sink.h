#pragma once

// Private to the platform module.

#include "platform/internal/pcm_conversion.h"

#include <cstddef>
#include <cstdint>

namespace tampod {

// Where decoded frames go, in the layout the reader's caller asked for. Every source converts
// its own samples straight into it, once.
struct SampleSink {
    enum class Layout { discard, floatPlanar, floatInterleaved, int32Interleaved };

    Layout layout = Layout::discard;
    int channels = 0;
    float *const *planar = nullptr;  // one pointer per channel
    float *interleaved = nullptr;
    int32_t *ints = nullptr;         // left-justified
    int64_t offset = 0;              // frames already delivered into it

    SampleSink at(int64_t frames) const
    {
        SampleSink later = *this;
        later.offset += frames;
        return later;
    }
};

// One sample of any decoded type as float and as a left-justified 32-bit integer.
struct SampleValue {
    static float toFloat(uint8_t v) { return float(int(v) - 128) * (1.0f / 128.0f); }
    static float toFloat(int16_t v) { return float(v) * (1.0f / 32768.0f); }
    static float toFloat(int32_t v) { return float(double(v) * (1.0 / 2147483648.0)); }
    static float toFloat(int64_t v) { return float(double(v) * (1.0 / 9223372036854775808.0)); }
    static float toFloat(float v) { return v; }
    static float toFloat(double v) { return float(v); }

    static int32_t toInt(uint8_t v) { return int32_t(uint32_t(int(v) - 128) << 24); }
    static int32_t toInt(int16_t v) { return int32_t(uint32_t(int32_t(v)) << 16); }
    static int32_t toInt(int32_t v) { return v; }
    static int32_t toInt(int64_t v) { return int32_t(v >> 32); }
    static int32_t toInt(float v) { return pcm::floatToInt(v, 32); }
    static int32_t toInt(double v) { return pcm::floatToInt(float(v), 32); }
};

// Copies count frames of interleaved samples into the sink.
template <typename T>
void deliverInterleaved(const T *source, int64_t count, const SampleSink &sink)
{
    const int channels = sink.channels;
    const ptrdiff_t samples = ptrdiff_t(count) * channels;
    switch (sink.layout) {
    case SampleSink::Layout::floatInterleaved: {
        float *out = sink.interleaved + sink.offset * channels;
        for (ptrdiff_t i = 0; i < samples; ++i)
            out[i] = SampleValue::toFloat(source[i]);
        return;
    }
    case SampleSink::Layout::int32Interleaved: {
        int32_t *out = sink.ints + sink.offset * channels;
        for (ptrdiff_t i = 0; i < samples; ++i)
            out[i] = SampleValue::toInt(source[i]);
        return;
    }
    case SampleSink::Layout::floatPlanar:
        for (int c = 0; c < channels; ++c) {
            float *out = sink.planar[c] + sink.offset;
            for (int64_t i = 0; i < count; ++i)
                out[i] = SampleValue::toFloat(source[i * channels + c]);
        }
        return;
    case SampleSink::Layout::discard:
        return;
    }
}

// Copies count frames of one channel's samples into the sink.
template <typename T>
void deliverChannel(const T *source, int channel, int64_t count, const SampleSink &sink)
{
    const int channels = sink.channels;
    switch (sink.layout) {
    case SampleSink::Layout::floatInterleaved: {
        float *out = sink.interleaved + sink.offset * channels + channel;
        for (int64_t i = 0; i < count; ++i)
            out[i * channels] = SampleValue::toFloat(source[i]);
        return;
    }
    case SampleSink::Layout::int32Interleaved: {
        int32_t *out = sink.ints + sink.offset * channels + channel;
        for (int64_t i = 0; i < count; ++i)
            out[i * channels] = SampleValue::toInt(source[i]);
        return;
    }
    case SampleSink::Layout::floatPlanar: {
        float *out = sink.planar[channel] + sink.offset;
        for (int64_t i = 0; i < count; ++i)
            out[i] = SampleValue::toFloat(source[i]);
        return;
    }
    case SampleSink::Layout::discard:
        return;
    }
}

} // namespace tampod
