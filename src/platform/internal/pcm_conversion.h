#pragma once

#include <cmath>
#include <cstdint>

namespace tampod::pcm {

// Float → N-bit integer: round half away from zero of x·2^(N−1), clamped to the N-bit range;
// NaN and infinities become 0. Values already on an N-bit grid stay on it exactly.
inline int32_t floatToInt(float x, int bits)
{
    if (!std::isfinite(x))
        return 0;
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::round(static_cast<double>(x) * scale); // std::round: half away
    if (v >= scale - 1.0)
        return static_cast<int32_t>(scale - 1.0);
    if (v <= -scale)
        return static_cast<int32_t>(-scale);
    return static_cast<int32_t>(v);
}

// The same, left-justified in 32 bits (how libsndfile's int interface takes samples).
inline int32_t floatToLeftJustified(float x, int bits)
{
    return static_cast<int32_t>(static_cast<uint32_t>(floatToInt(x, bits)) << (32 - bits));
}

} // namespace tampod::pcm
