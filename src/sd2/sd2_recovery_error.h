#pragma once

#include "core/error.h"

#include <cstdint>

namespace tampod {

// Why a recovery produced no working copy. The source file is never the cause of a change:
// every case leaves it as it was.
class SD2RecoveryError : public Error {
public:
    enum class Case { incompleteFrame = 1, unsuitable, changed, verification };

    // The data length is not a whole number of frames of frameBytes.
    static SD2RecoveryError incompleteFrame(std::uint64_t bytes, int frameBytes);
    static SD2RecoveryError unsuitable() { return SD2RecoveryError(Case::unsuitable); }
    static SD2RecoveryError changed() { return SD2RecoveryError(Case::changed); }
    static SD2RecoveryError verification() { return SD2RecoveryError(Case::verification); }

    Case which() const noexcept { return case_; }
    // incompleteFrame only: the data length and the bytes of one frame.
    std::uint64_t bytes() const noexcept { return bytes_; }
    int frameBytes() const noexcept { return frameBytes_; }

    static QString description(Case which);

private:
    explicit SD2RecoveryError(Case which, std::uint64_t bytes = 0, int frameBytes = 0);

    Case case_;
    std::uint64_t bytes_;
    int frameBytes_;
};

} // namespace tampod
