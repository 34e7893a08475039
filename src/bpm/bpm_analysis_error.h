#pragma once

#include "core/error.h"

namespace tampod {

// Why the analysis service could not give a tempo; "Get" names the library's detect button.
class BPMAnalysisError : public Error {
public:
    enum class Kind { limit, unreadable, tooShort, noPulse, changed };

    explicit BPMAnalysisError(Kind kind);

    Kind kind() const noexcept { return kind_; }
    static QString errorDescription(Kind kind);

    bool operator==(const BPMAnalysisError &other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

} // namespace tampod
