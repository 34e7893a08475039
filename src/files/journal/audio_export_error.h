#pragma once

#include "core/error.h"

namespace tampod {

// Export failures with their fixed user sentences. The codes keep the order of the export
// engine's full list of cases, so adding the remaining cases later changes no code.
class AudioExportError : public Error {
public:
    enum class Case {
        destinationExists = 3,
        splitRecoveryUnavailable = 9,
        splitRecoveryPending = 10,
    };

    explicit AudioExportError(Case kind);

    Case kind() const noexcept { return kind_; }

    static QString description(Case kind);

private:
    Case kind_;
};

} // namespace tampod
