#pragma once

#include "core/error.h"

namespace tampod {

// The failures of the tempo tag writers, with the export's own texts, so that the export engine
// can report them as its tempo-metadata and size-limit failures.
class TempoWriteError : public Error {
public:
    enum class Reason {
        tempoMetadata = 1, // malformed or unsupported file, or the tempo did not read back
        tooLarge = 2,      // the tagged file would pass the 4 GB limit of its size field
    };

    explicit TempoWriteError(Reason reason);
    Reason reason() const noexcept { return reason_; }

private:
    Reason reason_;
};

} // namespace tampod
