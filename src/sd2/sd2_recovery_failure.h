#pragma once

#include "library/sd2_metadata.h"

#include <QString>

#include <exception>
#include <optional>

namespace tampod {

// The alert for a failed recovery: what went wrong in plain words, and a technical text
// (shown on request) naming the interpretation tried, the precise reason and what recovery
// can and cannot do.
struct SD2RecoveryFailure {
    QString title;
    QString message;
    QString technicalExplanation;

    // parameters: the interpretation that was tried; previous: those of the working copy that
    // stays in use, if any. Any error gives all three texts.
    SD2RecoveryFailure(const std::exception_ptr &error, const SD2Metadata &parameters,
                       const std::optional<SD2Metadata> &previous);
};

} // namespace tampod
