#pragma once

#include "library/sd2_metadata.h"
#include "library/sd2_recovered_copy.h"

#include <QString>

#include <memory>
#include <optional>

namespace tampod {

// The recovery state of an SD2 file without usable parameters: pending while it has no copy.
struct SD2Recovery {
    std::shared_ptr<const SD2RecoveredCopy> copy; // the working copy in use; null until made
    std::optional<SD2Metadata> requested;          // what the next recovery is to use

    // One line for the SD2 tools: the copy's parameters, else the requested ones.
    QString summary() const;
};

} // namespace tampod
