#pragma once

// Private to the platform module.

namespace tampod::decodelimits {

// What any of the decode rooms accepts from a header before it allocates for it: every room
// checks the same bounds, so a file refused by one is not admitted by another.
constexpr int maximumChannels = 64;
constexpr int maximumSampleRate = 1536000;

} // namespace tampod::decodelimits
