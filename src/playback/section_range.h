#pragma once

namespace tampod {

// A loop section as fractions 0…1 of a track's length (not seconds, not frames); frames are
// found only when the section is prepared. Equal when both fractions compare equal.
struct SectionRange {
    double start = 0;
    double end = 1;

    bool operator==(const SectionRange &) const = default;

    // Finite, 0 ≤ start < end ≤ 1.
    bool isValid() const;
    // This range when valid, else the whole track.
    SectionRange validOrWhole() const;

    // The range a newly switched-on loop starts with: the initialSeconds around the middle of
    // a longer track, else the whole track.
    static constexpr double initialSeconds = 30;
    static SectionRange initial(double duration);
};

} // namespace tampod
