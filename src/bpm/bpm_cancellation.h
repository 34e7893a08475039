#pragma once

#include "concurrency/cancellation.h"

namespace tampod {

// The cancellation probe handed through every stage of tempo estimation: it reads the flag of
// the analysis that runs it and keeps nothing else.
class BPMCancellation {
public:
    BPMCancellation() = default;
    explicit BPMCancellation(CancellationToken token) : token_(std::move(token)) {}

    // Throws Cancelled once the analysis has been cancelled.
    void check() const { token_.throwIfCancelled(); }
    bool isCancelled() const noexcept { return token_.isCancelled(); }
    const CancellationToken &token() const noexcept { return token_; }

private:
    CancellationToken token_;
};

} // namespace tampod
